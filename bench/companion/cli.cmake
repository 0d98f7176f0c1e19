# The companion program against an in-process simulated line: a scan of 256 addresses and a
# restore of a whole configuration image, each against its floor.
if(TARGET qx510_standin_test_copy)
  qx510_add_bench(bench_cli
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli.cpp
    LIBS qx510_cli qx510_sim_model
    DRIVERS standin)
endif()
