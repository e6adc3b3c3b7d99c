# kestrel-sim.exe: the simulated machine under the real Win32 window. The simulator reads its
# machine descriptions with nlohmann/json, a header-only library taken from the build host.
find_path(KESTREL_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(KESTREL_NLOHMANN_DIR)
  # Only the nlohmann folder: the host's other headers must not reach the cross build.
  set(_nl ${CMAKE_BINARY_DIR}/third_party/include)
  file(MAKE_DIRECTORY ${_nl})
  file(CREATE_LINK ${KESTREL_NLOHMANN_DIR}/nlohmann ${_nl}/nlohmann SYMBOLIC)
  set(_machine_json ${CMAKE_SOURCE_DIR}/sim/machines/default.json)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_machine_json})
  file(READ ${_machine_json} KESTREL_DEFAULT_MACHINE)
  configure_file(${CMAKE_SOURCE_DIR}/sim/DefaultMachine.cpp.in ${CMAKE_BINARY_DIR}/generated/DefaultMachine.cpp @ONLY)
  file(GLOB KESTREL_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
  add_library(kestrel_simplatform STATIC ${KESTREL_SIM_SOURCES} ${CMAKE_BINARY_DIR}/generated/DefaultMachine.cpp)
  target_include_directories(kestrel_simplatform PUBLIC ${CMAKE_SOURCE_DIR})
  target_include_directories(kestrel_simplatform SYSTEM PUBLIC ${_nl})
  target_link_libraries(kestrel_simplatform PUBLIC kestrel_core PRIVATE kestrel_warnings)
  target_compile_definitions(kestrel_simplatform PRIVATE KESTREL_FILE_VERSION="${PROJECT_VERSION}")
  # GCC 12 at -O3 reports false overlaps and uninitialised reads inside libstdc++'s string code
  # in the simulator (never in the product); the native build checks the same code cleanly.
  target_compile_options(kestrel_simplatform PRIVATE -Wno-restrict -Wno-maybe-uninitialized)
  add_executable(kestrel-sim app/entry/SimWin32Main.cpp ${CMAKE_BINARY_DIR}/generated/kestrel.rc $<TARGET_OBJECTS:kestrel_block>)
  target_link_libraries(kestrel-sim PRIVATE kestrel_simplatform kestrel_win32 kestrel_warnings)
endif()
