#pragma once
// main() of the window benchmarks: the offscreen platform unless QT_QPA_PLATFORM says
// otherwise, a QApplication, the simulated module, the benchmarks registerAll adds, and the
// exit status from summarise's verdict on their figures.
#include <functional>

#include "bench/support/figures.h"
#include "bench/support/simulated_module.h"

// The module the running window benchmark talks to.
SimulatedModule& Module();

int RunWindowBenchmarks(int argc, char** argv, const std::function<void()>& registerAll,
                        const std::function<bool(const FigureReporter&)>& summarise);
