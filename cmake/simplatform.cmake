# The simulated machine as a library (kestrel-sim, the native tests, kestrel-sim.exe): the sim
# sources and the embedded default machine description. The caller adds how nlohmann/json is found.
function(kestrel_add_simplatform)
  set(_machine_json ${CMAKE_SOURCE_DIR}/sim/machines/default.json)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_machine_json})
  file(READ ${_machine_json} KESTREL_DEFAULT_MACHINE)
  configure_file(${CMAKE_SOURCE_DIR}/sim/DefaultMachine.cpp.in ${CMAKE_BINARY_DIR}/generated/DefaultMachine.cpp @ONLY)
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
  add_library(kestrel_simplatform STATIC ${_sources} ${CMAKE_BINARY_DIR}/generated/DefaultMachine.cpp)
  target_include_directories(kestrel_simplatform PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(kestrel_simplatform PUBLIC kestrel_core PRIVATE kestrel_warnings)
  target_compile_definitions(kestrel_simplatform PRIVATE KESTREL_FILE_VERSION="${PROJECT_VERSION}")
endfunction()
