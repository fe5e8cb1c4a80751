#include "bench/ratio_reporter.h"

#include <cmath>
#include <iomanip>
#include <limits>

namespace {

constexpr double missing = std::numeric_limits<double>::quiet_NaN();

void print_ratio(std::ostream& out, const char* what, double numerator, double denominator,
                 const char* target) {
  out << "  " << std::left << std::setw(48) << what << std::right;
  if (std::isnan(numerator) || std::isnan(denominator) || denominator == 0) {
    out << "(not measured)\n";
    return;
  }
  out << std::fixed << std::setprecision(2) << numerator / denominator
      << (target[0] == '(' ? "   " : "   target ") << target << "\n";
}

}  // namespace

void ratio_reporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.error_occurred) failed_ = true;
    if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
    totals& t = results_[run.benchmark_name()];
    const double to_ns = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    t.cpu_ns += run.GetAdjustedCPUTime() * to_ns;
    for (const auto& counter : run.counters) t.counters[counter.first] += counter.second.value;
    ++t.runs;
  }
  ConsoleReporter::ReportRuns(runs);
}

const ratio_reporter::totals* ratio_reporter::find(const std::string& name) const {
  const auto found = results_.find(name);
  return found == results_.end() ? nullptr : &found->second;
}

double ratio_reporter::counter(const std::string& name, const std::string& key) const {
  const totals* t = find(name);
  if (t == nullptr) return missing;
  const auto found = t->counters.find(key);
  return found == t->counters.end() ? missing : found->second / t->runs;
}

double ratio_reporter::cpu_ns(const std::string& name) const {
  const totals* t = find(name);
  return t == nullptr ? missing : t->cpu_ns / t->runs;
}

void ratio_reporter::print_ratios(std::ostream& out) const {
  if (results_.empty()) return;
  const double floor = cpu_ns("BM_floor");
  out << "\nRatios of this run:\n";
  // Enqueue side: CPU of the request thread per HttpFilterProc. Dequeue side:
  // CPU of the process per record while the worker drains a full queue.
  print_ratio(out, "end-to-end CPU per request / floor",
              cpu_ns("BM_http_filter_proc_latency") + cpu_ns("BM_worker/process_time/real_time"),
              floor, "<= 1.25");
  print_ratio(out, "one batch through the module / floor",
              cpu_ns("BM_end_to_end/process_time"), floor, "<= 1.25");
  print_ratio(out, "serial path (no threads) / floor", cpu_ns("BM_serial_path"), floor,
              "(what the code adds)");
  // The replay's CPU per line (the generated log's 16 directives are lines too)
  // over the module's own CPU per request, both with the reference script.
  print_ratio(out, "replay CPU per line / module CPU per request",
              counter("BM_replay/iterations:3/process_time", "cpu_ns_per_line"),
              cpu_ns("BM_end_to_end/process_time"), "<= 1.5");
  print_ratio(out, "replay sleeps per line",
              counter("BM_replay/iterations:3/process_time", "sleeps_per_line"), 1.0, "< 0.05");
  print_ratio(out, "heap bytes per queued 8-field record",
              counter("BM_memory_per_record/iterations:1", "heap_bytes_per_record"), 1.0, "<= 512");
  for (const char* name : {"BM_throughput", "BM_request_side"}) {
    const std::string base = std::string(name) + "/pool_per_thread:1/real_time/threads:";
    print_ratio(out, (std::string(name) + " 2 threads / 1 thread").c_str(),
                counter(base + "2", "items_per_second"), counter(base + "1", "items_per_second"),
                ">= 1.6");
  }
}
