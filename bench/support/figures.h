#pragma once
// What every benchmark program prints at its end: a measured figure beside its floor, taken in
// the same run, and their ratio against a goal.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

// Keeps, per benchmark name (as registered, without its options), the CPU and wall seconds per
// iteration and the counters; of a repeated benchmark (see Repeated), those of its "min".
class FigureReporter : public benchmark::ConsoleReporter {
 public:
  FigureReporter();
  void ReportRuns(const std::vector<Run>& runs) override;

  // -1 when the benchmark did not run or failed.
  double cpuSeconds(const std::string& name) const;
  double realSeconds(const std::string& name) const;
  // Iterations per second of wall time.
  double perSecond(const std::string& name) const;
  double counter(const std::string& name, const std::string& counter) const;

 private:
  struct Figures {
    double cpu = -1, real = -1;
    std::map<std::string, double> counters;
  };
  const Figures* find(const std::string& name) const;
  std::map<std::string, Figures> runs_;
};

// Runs the benchmark `times` times and reports, besides the usual statistics, the least
// figure: the one least disturbed by whatever else the machine was doing.
benchmark::internal::Benchmark* Repeated(benchmark::internal::Benchmark* b, int times);

// One line of the summary. Returns whether the figure is within its goal; a figure that is
// missing (below 0) never is.
bool PrintRatio(const std::string& what, double measured, double floor, double scale,
                const char* unit, double maxRatio);
// The same for a rate, where more is better: within when measured / floor >= minRatio.
bool PrintRatioAtLeast(const std::string& what, double measured, double floor, double scale,
                       const char* unit, double minRatio);
// An absolute figure: at most (atMost true) or at least the goal.
bool PrintLimit(const std::string& what, double measured, double floor, double scale,
                const char* unit, double goal, bool atMost);

// The program's exit status: 2 when a goal was missed in an optimised build; debug and
// instrumented builds report but do not judge.
int Verdict(bool allWithin);
