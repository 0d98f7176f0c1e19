# Exchanges per second through the stand-in drivers to the headless simulator program: the
# LAN converter's over UDP on loopback, the serial port's over the local endpoint, to one
# module and to a line of 32; the control channel's median round trip.
if(TARGET qx510_standin_test_copy AND TARGET qx510-sim)
  qx510_add_bench(bench_standin
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/standin.cpp
    LIBS qx510_bench_support qx510_driver_abi qx510_sim_model ${CMAKE_DL_LIBS}
    DRIVERS standin)
endif()
