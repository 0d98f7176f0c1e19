# The tool's code against the wire: the simulator program serving a pseudo-terminal at wire
# time, reached through COM1 mapped to it. Never part of ctest: a full run takes minutes.
if(TARGET qx510_standin_test_copy AND TARGET qx510-sim)
  qx510_add_bench(bench_wire
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/wire.cpp ${CMAKE_CURRENT_LIST_DIR}/../line/line_poll.cpp ${CMAKE_CURRENT_LIST_DIR}/wire_line.cpp ${CMAKE_CURRENT_LIST_DIR}/wire_line.h
    LIBS qx510_bench_support qx510_config qx510_cli qx510_line Qt6::Test
    DRIVERS standin)
  add_dependencies(bench_wire qx510-sim)
endif()
