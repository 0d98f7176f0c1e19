# The line workbench: polling, the window's CPU, the trend's redraw and its start-up, with the
# simulator program and the stand-in drivers beside it. The start-up probe is a Qt generic
# plugin loaded into the programs it times; it is never installed.
if(TARGET qx510_standin_test_copy AND TARGET qx510-sim AND TARGET qx510-line)
  add_library(qx510_start_probe MODULE ${CMAKE_CURRENT_LIST_DIR}/start_probe.cpp ${CMAKE_CURRENT_LIST_DIR}/start_probe.json)
  target_link_libraries(qx510_start_probe PRIVATE Qt6::Gui qx510_warnings)
  set(probe_root ${CMAKE_CURRENT_BINARY_DIR}/plugins)
  set_target_properties(qx510_start_probe PROPERTIES
    PREFIX "" OUTPUT_NAME qx510startprobe LIBRARY_OUTPUT_DIRECTORY ${probe_root}/generic)
  qx510_add_bench(bench_line
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/line.cpp ${CMAKE_CURRENT_LIST_DIR}/line_poll.cpp ${CMAKE_CURRENT_LIST_DIR}/line_poll.h
    LIBS qx510_bench_support qx510_line
    DRIVERS standin)
  add_dependencies(bench_line qx510_start_probe qx510 qx510-line qx510-sim)
  target_compile_definitions(bench_line PRIVATE QX510_TOOL="$<TARGET_FILE:qx510>"
    QX510_LINE="$<TARGET_FILE:qx510-line>" QX510_PLUGINS="${probe_root}")
endif()
# What publishing to MQTT adds, against a broker of the tests' own.
if(TARGET bench_line AND TARGET qx510_test_broker)
  target_link_libraries(bench_line PRIVATE qx510_test_broker)
  target_compile_definitions(bench_line PRIVATE QX510_BENCH_BROKER)
endif()
