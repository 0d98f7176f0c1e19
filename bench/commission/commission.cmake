# Commissioning one module against the wire time of its exchanges: the simulated line paced at
# wire time, reached through the serial port's stand-in. Never part of ctest.
if(TARGET qx510_standin_test_copy)
  qx510_add_bench(bench_commission
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/commission.cpp
    LIBS qx510_bench_support qx510_base qx510_sim_model
    DRIVERS standin)
endif()
