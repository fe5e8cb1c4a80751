// What the whole process has spent so far, for figures that CPU time alone
// hides: how often its threads slept and were woken.
#pragma once

struct process_usage {
  double cpu_seconds = 0;  // user and system, every thread
  long voluntary_switches = 0;    // a thread blocked (slept, waited)
  long involuntary_switches = 0;  // a thread was preempted

  // Now, for the calling process.
  static process_usage now();
  process_usage operator-(const process_usage& earlier) const;
};
