# One exchange to the headless simulator with nothing watching the line, with the observer
# hook idle and with every exchange traced to a file; the process and the simulator pinned
# to one CPU.
if(TARGET qx510_standin_test_copy AND TARGET qx510-sim)
  qx510_add_bench(bench_trace
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace.cpp
    LIBS qx510_bench_support qx510_base
    DRIVERS standin)
endif()
