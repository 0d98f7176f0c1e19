# One exchange through KNET1660.DLL and KSER660.DLL against a bare client's round trip of the
# same frame over the same kind of socket, to the same responder, on one CPU.
if(TARGET qx510_standin_test_copy)
  qx510_add_bench(bench_driver_echo
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/driver_echo.cpp
    LIBS qx510_bench_support qx510_driver_abi ${CMAKE_DL_LIBS}
    DRIVERS standin)
endif()
