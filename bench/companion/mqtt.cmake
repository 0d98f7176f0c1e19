# Publishing to a real broker on 127.0.0.1: watch with and without publishing, and the latency
# from publish to a subscriber.
if(TARGET qx510_standin_test_copy AND TARGET qx510_test_broker)
  qx510_add_bench(bench_mqtt
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mqtt.cpp
    LIBS qx510_bench_support qx510_cli qx510_mqtt qx510_sim_model qx510_test_broker
    DRIVERS standin)
endif()
