# The calibration certificate: its render time and size against a page of one line in the
# same embedded font.
if(TARGET qx510_line)
  qx510_add_bench(bench_certificate SOURCES ${CMAKE_CURRENT_LIST_DIR}/certificate.cpp LIBS qx510_bench_support qx510_line)
endif()
