#include "bench/support/window_bench.h"

#include <QApplication>
#include <cstdio>

namespace {
SimulatedModule* Current = nullptr;
}

SimulatedModule& Module() { return *Current; }

int RunWindowBenchmarks(int argc, char** argv, const std::function<void()>& registerAll,
                        const std::function<bool(const FigureReporter&)>& summarise) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  SimulatedModule module;
  if (!module.error().empty()) {
    std::fprintf(stderr, "%s\n", module.error().c_str());
    return 1;
  }
  Current = &module;
  registerAll();
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const bool within = summarise(reporter);
  Current = nullptr;
  return Verdict(within);
}
