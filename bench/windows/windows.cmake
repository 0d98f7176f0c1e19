# The windows against their floors, in the stand-ins' directory with the simulated module
# inside the benchmark: CPU per tick of the live windows against a minimal poller, and the
# configuration windows' read and write against exchanges x round trip + pauses.
find_package(Qt6 REQUIRED COMPONENTS Test)
if(TARGET qx510_standin_test_copy)
  qx510_add_bench(bench_live_tick
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/live_tick.cpp
    LIBS qx510_bench_support qx510_live Qt6::Test
    DRIVERS standin)
  qx510_add_bench(bench_config_transfer
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/config_transfer.cpp
    LIBS qx510_bench_support qx510_config Qt6::Test
    DRIVERS standin)
endif()
# The simulator program with its window against itself headless: idle CPU and exchanges/s.
if(TARGET qx510_standin_test_copy AND TARGET qx510-sim)
  qx510_add_bench(bench_sim_idle
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_idle.cpp
    LIBS qx510_bench_support
    DRIVERS standin)
endif()
