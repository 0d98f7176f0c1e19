# What the benchmark programs share: the summary of figures against floors, the simulator
# program as a child process, the simulated module inside the benchmark and the windows'
# benchmarks' main().
add_library(qx510_bench_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/figures.cpp ${CMAKE_CURRENT_LIST_DIR}/figures.h
  ${CMAKE_CURRENT_LIST_DIR}/sim_process.cpp ${CMAKE_CURRENT_LIST_DIR}/sim_process.h
  ${CMAKE_CURRENT_LIST_DIR}/standin_driver.h
  ${CMAKE_CURRENT_LIST_DIR}/simulated_module.cpp ${CMAKE_CURRENT_LIST_DIR}/simulated_module.h
  ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/window_bench.h)
target_link_libraries(qx510_bench_support PUBLIC qx510_base qx510_sim_model Qt6::Widgets benchmark::benchmark qx510_warnings)
target_include_directories(qx510_bench_support PUBLIC ${PROJECT_SOURCE_DIR})
set_target_properties(qx510_bench_support PROPERTIES AUTOMOC OFF)
