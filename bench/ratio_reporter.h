// The console report, and after it the three figures the hot path is held to,
// each taken from runs of this one program run.
#pragma once

#include <map>
#include <ostream>
#include <string>

#include <benchmark/benchmark.h>

class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  // Plain text, counters as columns.
  ratio_reporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override;

  // Writes the ratios whose runs were reported; says which are missing.
  void print_ratios(std::ostream& out) const;

  // A benchmark ended with an error (SkipWithError).
  bool failed() const { return failed_; }

 private:
  struct totals {
    double cpu_ns = 0;  // per iteration
    std::map<std::string, double> counters;
    int runs = 0;
  };
  // Mean over repetitions; nullptr when the benchmark did not run.
  const totals* find(const std::string& name) const;
  double cpu_ns(const std::string& name) const;  // per iteration
  double counter(const std::string& name, const std::string& key) const;

  std::map<std::string, totals> results_;
  bool failed_ = false;
};
