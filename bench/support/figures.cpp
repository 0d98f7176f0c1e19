#include "bench/support/figures.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

FigureReporter::FigureReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

void FigureReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred || run.iterations == 0) continue;
    if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "min") continue;
    Figures& f = runs_[run.run_name.function_name];
    const double n = double(run.iterations);
    f.cpu = run.cpu_accumulated_time / n;
    f.real = run.real_accumulated_time / n;
    for (const auto& [key, value] : run.counters) f.counters[key] = value.value;
  }
}

benchmark::internal::Benchmark* Repeated(benchmark::internal::Benchmark* b, int times) {
  return b->Repetitions(times)
      ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
      ->ReportAggregatesOnly(true);
}

const FigureReporter::Figures* FigureReporter::find(const std::string& name) const {
  const auto it = runs_.find(name);
  return it == runs_.end() ? nullptr : &it->second;
}

double FigureReporter::cpuSeconds(const std::string& name) const {
  const Figures* f = find(name);
  return f ? f->cpu : -1;
}

double FigureReporter::realSeconds(const std::string& name) const {
  const Figures* f = find(name);
  return f ? f->real : -1;
}

double FigureReporter::perSecond(const std::string& name) const {
  const double s = realSeconds(name);
  return s > 0 ? 1.0 / s : -1;
}

double FigureReporter::counter(const std::string& name, const std::string& counter) const {
  const Figures* f = find(name);
  if (f == nullptr) return -1;
  const auto it = f->counters.find(counter);
  return it == f->counters.end() ? -1 : it->second;
}

namespace {

bool Ratio(const std::string& what, double measured, double floor, double scale, const char* unit, double goal,
           bool atMost) {
  if (measured < 0 || floor <= 0) {
    std::printf("%-34s did not run\n", what.c_str());
    return false;
  }
  const double ratio = measured / floor;
  const bool within = atMost ? ratio <= goal : ratio >= goal;
  std::printf("%-34s %10.1f %s, floor %10.1f %s, ratio %.2fx (goal %s %.2fx)%s\n", what.c_str(), measured * scale,
              unit, floor * scale, unit, ratio, atMost ? "<=" : ">=", goal, within ? "" : "  MISSED");
  return within;
}

}  // namespace

bool PrintRatio(const std::string& what, double measured, double floor, double scale,
                const char* unit, double maxRatio) {
  return Ratio(what, measured, floor, scale, unit, maxRatio, true);
}

bool PrintRatioAtLeast(const std::string& what, double measured, double floor, double scale, const char* unit,
                       double minRatio) {
  return Ratio(what, measured, floor, scale, unit, minRatio, false);
}

bool PrintLimit(const std::string& what, double measured, double floor, double scale,
                const char* unit, double goal, bool atMost) {
  // The goal is absolute; the floor only shows what the same work costs at its least, and may
  // be 0 (an idle process that used no measurable time), which leaves the ratio undefined.
  if (measured < 0 || floor < 0) {
    std::printf("%-34s did not run\n", what.c_str());
    return false;
  }
  const bool within = atMost ? measured <= goal : measured >= goal;
  const int places = goal * scale >= 100 ? 0 : 3;
  char ratio[32] = "ratio -";
  if (floor > 0) std::snprintf(ratio, sizeof ratio, "ratio %.2fx", measured / floor);
  std::printf("%-34s %10.*f %s, floor %10.*f %s, %s (goal %s %.*f %s)%s\n", what.c_str(), places,
              measured * scale, unit, places, floor * scale, unit, ratio, atMost ? "<" : ">=",
              places, goal * scale, unit, within ? "" : "  MISSED");
  return within;
}

int Verdict(bool allWithin) {
#ifdef NDEBUG
  return allWithin ? 0 : 2;
#else
  (void)allWithin;
  std::printf("debug build: the goals are judged in optimised builds only\n");
  return 0;
#endif
}
