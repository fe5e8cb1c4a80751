#include "bench/process_usage.h"

#include <sys/resource.h>

process_usage process_usage::now() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  process_usage taken;
  taken.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  taken.voluntary_switches = usage.ru_nvcsw;
  taken.involuntary_switches = usage.ru_nivcsw;
  return taken;
}

process_usage process_usage::operator-(const process_usage& earlier) const {
  process_usage difference;
  difference.cpu_seconds = cpu_seconds - earlier.cpu_seconds;
  difference.voluntary_switches = voluntary_switches - earlier.voluntary_switches;
  difference.involuntary_switches = involuntary_switches - earlier.involuntary_switches;
  return difference;
}
