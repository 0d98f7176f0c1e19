# ModuleExchange through the loader and the scripted driver against a direct call of the
# same library's Send: what the stack adds per exchange.
if(TARGET qx510_scripted_drivers)
  qx510_add_bench(bench_exchange
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/exchange.cpp
    LIBS qx510_base qx510_driver_abi ${CMAKE_DL_LIBS}
    DRIVERS scripted)
endif()
