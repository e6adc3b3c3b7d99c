# Native build: the program over the simulated machine, the tools and the tests.
find_package(nlohmann_json REQUIRED)
find_package(GTest REQUIRED)
# OpenSSL is a test oracle only (cipher, digests); nothing else links it.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)

include(cmake/simplatform.cmake)
kestrel_add_simplatform()
target_link_libraries(kestrel_simplatform PUBLIC nlohmann_json::nlohmann_json)

add_executable(kestrel-sim app/entry/SimMain.cpp $<TARGET_OBJECTS:kestrel_block>)
target_link_libraries(kestrel-sim PRIVATE kestrel_simplatform kestrel_warnings)
# The same program as a large-slot template.
add_executable(kestrel-sim-largeslots app/entry/SimMain.cpp $<TARGET_OBJECTS:kestrel_block_large>)
target_link_libraries(kestrel-sim-largeslots PRIVATE kestrel_simplatform kestrel_warnings)

enable_testing()
file(GLOB KESTREL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
function(kestrel_test_binary name)
  add_executable(${name} ${ARGN} $<TARGET_OBJECTS:kestrel_block>)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE kestrel_simplatform GTest::gtest GTest::gtest_main OpenSSL::Crypto kestrel_warnings)
  target_compile_definitions(${name} PRIVATE KESTREL_TEST_FIXTURES="${CMAKE_SOURCE_DIR}/tests/fixtures"
    KESTREL_LARGE_SLOT_TEMPLATE="$<TARGET_FILE:kestrel-sim-largeslots>"
    KESTREL_LARGE_PROGRAM_SLOT_SIZE=${KESTREL_LARGE_PROGRAM_SLOT_SIZE}
    KESTREL_SIM_MACHINES="${CMAKE_SOURCE_DIR}/sim/machines")
  # The boot-time tests pack the large-slot template file itself.
  add_dependencies(${name} kestrel-sim-largeslots)
endfunction()
kestrel_test_binary(kestrel_tests ${KESTREL_TEST_SOURCES})
if(KESTREL_TSAN)
  # The tests that run a worker thread beside the GUI thread, alone: ThreadSanitizer runs only these
  # (./dev test), so its build compiles no other test file.
  kestrel_test_binary(kestrel_thread_tests ${CMAKE_SOURCE_DIR}/tests/unit/FlashThreadTest.cpp
    ${CMAKE_SOURCE_DIR}/tests/unit/SimClockThreadsTest.cpp ${CMAKE_SOURCE_DIR}/tests/unit/UpdateWorkflowTest.cpp)
endif()
include(GoogleTest)
gtest_discover_tests(kestrel_tests DISCOVERY_TIMEOUT 60)
