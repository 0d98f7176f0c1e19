# Exchanges per second through the stand-in drivers to the headless simulator program: the
# LAN converter's over UDP on loopback, the serial port's over the local endpoint, to one
# module and to a line of 32; the control channel's median round trip.
if(TARGET qx510_standin_test_copy AND TARGET qx510-sim)
  qx510_add_bench(bench_standin
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/standin.cpp
    LIBS qx510_bench_support qx510_driver_abi qx510_sim_model ${CMAKE_DL_LIBS}
    DRIVERS standin)
endif()

# `qx510-sim ctl list` and `send` as whole processes against a minimal Qt Core program.
if(TARGET qx510_standin_test_copy AND TARGET qx510-sim)
  add_executable(qx510-bench-core-floor ${CMAKE_CURRENT_LIST_DIR}/core_floor.cpp)
  target_link_libraries(qx510-bench-core-floor PRIVATE Qt6::Core qx510_warnings)
  set_target_properties(qx510-bench-core-floor PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QX510_STANDIN_TEST_DIR})
  qx510_add_bench(bench_sim_commands
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_commands.cpp
    LIBS qx510_bench_support
    DRIVERS standin)
  add_dependencies(bench_sim_commands qx510-bench-core-floor)
endif()
