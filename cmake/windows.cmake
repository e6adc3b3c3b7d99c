# Windows build (MinGW-w64): the product kestrel.exe over the real Win32 adapters.
file(GLOB KESTREL_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)
add_library(kestrel_win32 STATIC ${KESTREL_WIN32_SOURCES})
target_include_directories(kestrel_win32 PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kestrel_win32 PUBLIC kestrel_core PRIVATE kestrel_warnings)
target_link_libraries(kestrel_win32 PUBLIC advapi32 user32 kernel32 ole32 oleaut32 wbemuuid version comctl32 comdlg32 gdi32 shell32)

# Version resource and manifest.
set(KESTREL_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
configure_file(${CMAKE_SOURCE_DIR}/res/kestrel.rc.in ${CMAKE_BINARY_DIR}/generated/kestrel.rc @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/res/kestrel.manifest ${CMAKE_BINARY_DIR}/generated/kestrel.manifest @ONLY)
# windres reads the manifest as a resource file, which the dependency scan does not see.
set_source_files_properties(${CMAKE_BINARY_DIR}/generated/kestrel.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/generated/kestrel.manifest)

add_executable(kestrel WIN32 app/entry/Win32Main.cpp ${CMAKE_BINARY_DIR}/generated/kestrel.rc $<TARGET_OBJECTS:kestrel_block>)
target_link_libraries(kestrel PRIVATE kestrel_win32 kestrel_warnings)
set_target_properties(kestrel PROPERTIES OUTPUT_NAME kestrel)
# The same program as a large-slot template, for packages that carry real boot-time programs.
add_executable(kestrel-largeslots WIN32 app/entry/Win32Main.cpp ${CMAKE_BINARY_DIR}/generated/kestrel.rc $<TARGET_OBJECTS:kestrel_block_large>)
target_link_libraries(kestrel-largeslots PRIVATE kestrel_win32 kestrel_warnings)

# Our structure layouts against the SDK's own definitions: compiles (or fails) for each target.
file(GLOB KESTREL_SDK_CHECKS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/wire/sdkcheck/*.cpp)
add_library(kestrel_sdkcheck OBJECT ${KESTREL_SDK_CHECKS})
target_include_directories(kestrel_sdkcheck PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(kestrel_sdkcheck PRIVATE kestrel_warnings)

# The adapters' own tests, cross-built for x64 (the build Wine runs here) from Debian's GoogleTest
# sources; tests/checks/wine.sh runs them.
set(KESTREL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross-built adapter tests")
file(GLOB KESTREL_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND KESTREL_WIN32_TEST_SOURCES AND EXISTS ${KESTREL_GTEST_SOURCE}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${KESTREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # The test carries the program's version resource, so the own-file-version query has a witness.
  add_executable(kestrel_win32_tests ${KESTREL_WIN32_TEST_SOURCES} ${CMAKE_BINARY_DIR}/generated/kestrel.rc)
  target_link_libraries(kestrel_win32_tests PRIVATE kestrel_win32 GTest::gtest GTest::gtest_main kestrel_warnings)
  target_compile_definitions(kestrel_win32_tests PRIVATE KESTREL_PROJECT_VERSION="${PROJECT_VERSION}")
endif()

# The boot-time Wine check's programs (tests/checks/boot-wine.sh): the road through the real
# adapters, built as a large-slot template, and a stand-in copy program that leaves a witness file.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_executable(kestrel_boot_road tests/win32/road/BootRoadCheck.cpp $<TARGET_OBJECTS:kestrel_block_large>)
  target_link_libraries(kestrel_boot_road PRIVATE kestrel_win32 kestrel_warnings)
  add_executable(kestrel_copy_witness tests/win32/road/CopyWitness.cpp)
  target_link_libraries(kestrel_copy_witness PRIVATE kestrel_warnings)
endif()

# kestrel-sim.exe: the simulated machine under the real Win32 window. The simulator reads its
# machine descriptions with nlohmann/json, a header-only library taken from the build host.
find_path(KESTREL_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
# Built for x64 only, the build that Wine runs here.
if(KESTREL_NLOHMANN_DIR AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  # Only the nlohmann folder: the host's other headers must not reach the cross build.
  set(_nl ${CMAKE_BINARY_DIR}/third_party/include)
  file(MAKE_DIRECTORY ${_nl})
  file(CREATE_LINK ${KESTREL_NLOHMANN_DIR}/nlohmann ${_nl}/nlohmann SYMBOLIC)
  include(cmake/simplatform.cmake)
  kestrel_add_simplatform()
  target_include_directories(kestrel_simplatform SYSTEM PUBLIC ${_nl})
  # GCC 12 at -O3 reports false overlaps and uninitialised reads inside libstdc++'s string code
  # in the simulator (never in the product); the native build checks the same code cleanly.
  target_compile_options(kestrel_simplatform PRIVATE -Wno-restrict -Wno-maybe-uninitialized)
  add_executable(kestrel-sim app/entry/SimWin32Main.cpp ${CMAKE_BINARY_DIR}/generated/kestrel.rc $<TARGET_OBJECTS:kestrel_block>)
  target_link_libraries(kestrel-sim PRIVATE kestrel_simplatform kestrel_win32 kestrel_warnings)
endif()
