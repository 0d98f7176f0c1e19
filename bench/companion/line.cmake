# qx510-cli line backup of 32 modules at 115200 Bd against the wire time of its exchanges.
if(TARGET qx510_standin_test_copy)
  qx510_add_bench(bench_cli_line
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/line.cpp
    LIBS qx510_bench_support qx510_cli qx510_sim_model
    DRIVERS standin)
endif()
