// The filter module, loaded as the web server loads it.
#pragma once

#include <string>

#include "platform/dynamic_library.h"
#include "platform/web_server.h"
#include "quillharbor/outlets.h"

// Owns the loaded module and its entry points. Unloading it (the destructor)
// is for after TerminateFilter, or after a failed load.
class filter_module {
 public:
  using get_filter_version_fn = decltype(&GetFilterVersion);
  using http_filter_proc_fn = decltype(&HttpFilterProc);
  using terminate_filter_fn = decltype(&TerminateFilter);

  // Throws std::runtime_error when the file cannot be loaded or lacks one of
  // the three entry points.
  explicit filter_module(const std::string& path);

  get_filter_version_fn get_filter_version;  // once, before any notification
  http_filter_proc_fn http_filter_proc;      // from any number of threads
  terminate_filter_fn terminate_filter;      // once, after the last notification returned

  // Routes the module's events and trace lines to the host; false when the
  // module offers no outlet hook. Only while no entry point runs.
  bool set_outlets(quillharbor_event_outlet event, quillharbor_trace_outlet trace,
                   void* context) const;

 private:
  platform::dynamic_library library_;
  quillharbor_set_outlets_fn set_outlets_;
};
