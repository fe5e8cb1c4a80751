// The real module, copied beside its own settings file and loaded as the web
// server loads it, with its outlets counting what it writes.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "bench/reference.h"
#include "host/filter_module.h"
#include "host/staged_module.h"

class staged_filter {
 public:
  // Throws std::runtime_error when the module cannot be staged or loaded.
  staged_filter(const std::string& script_path, int pool_size, int process_interval = 0);
  ~staged_filter();
  staged_filter(const staged_filter&) = delete;
  staged_filter& operator=(const staged_filter&) = delete;

  bool load();       // GetFilterVersion
  bool terminate();  // TerminateFilter: drains the queue first
  void notify(reference_request& request) {
    module_->http_filter_proc(&request.context, SF_NOTIFY_LOG, &request.log);
  }

  // Trace lines written so far: any means the script failed somewhere.
  long trace_lines() const { return trace_lines_.load(); }

 private:
  static void QUILLHARBOR_CALL on_event(void*, unsigned short, unsigned int, const char*) {}
  static void QUILLHARBOR_CALL on_trace(void* self, const char*);

  staged_module staged_;
  std::unique_ptr<filter_module> module_;
  std::atomic<long> trace_lines_{0};
};
