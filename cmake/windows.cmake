# Windows build (MinGW-w64): the product kestrel.exe over the real Win32 adapters.
file(GLOB KESTREL_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)
add_library(kestrel_win32 STATIC ${KESTREL_WIN32_SOURCES})
target_include_directories(kestrel_win32 PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kestrel_win32 PUBLIC kestrel_core PRIVATE kestrel_warnings)
target_link_libraries(kestrel_win32 PUBLIC advapi32 user32 kernel32 ole32 oleaut32 wbemuuid version comctl32 gdi32)

# Version resource and manifest.
set(KESTREL_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
configure_file(${CMAKE_SOURCE_DIR}/res/kestrel.rc.in ${CMAKE_BINARY_DIR}/generated/kestrel.rc @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/res/kestrel.manifest ${CMAKE_BINARY_DIR}/generated/kestrel.manifest COPYONLY)

add_executable(kestrel WIN32 app/entry/Win32Main.cpp ${CMAKE_BINARY_DIR}/generated/kestrel.rc $<TARGET_OBJECTS:kestrel_block>)
target_link_libraries(kestrel PRIVATE kestrel_win32 kestrel_warnings)
set_target_properties(kestrel PROPERTIES OUTPUT_NAME kestrel)

# Our structure layouts against the SDK's own definitions: compiles (or fails) for each target.
file(GLOB KESTREL_SDK_CHECKS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/wire/sdkcheck/*.cpp)
add_library(kestrel_sdkcheck OBJECT ${KESTREL_SDK_CHECKS})
target_include_directories(kestrel_sdkcheck PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(kestrel_sdkcheck PRIVATE kestrel_warnings)
