#include "host/filter_module.h"

#include <stdexcept>

namespace {

template <typename function>
function entry_point(const platform::dynamic_library& library, const std::string& path,
                     const char* name) {
  void* address = library.symbol(name);
  if (address == nullptr) throw std::runtime_error(path + " has no entry point " + name);
  return reinterpret_cast<function>(address);
}

}  // namespace

filter_module::filter_module(const std::string& path)
    : library_(path),
      set_outlets_(reinterpret_cast<quillharbor_set_outlets_fn>(
          library_.symbol(QUILLHARBOR_SET_OUTLETS_SYMBOL))) {
  get_filter_version = entry_point<get_filter_version_fn>(library_, path, "GetFilterVersion");
  http_filter_proc = entry_point<http_filter_proc_fn>(library_, path, "HttpFilterProc");
  terminate_filter = entry_point<terminate_filter_fn>(library_, path, "TerminateFilter");
}

bool filter_module::set_outlets(quillharbor_event_outlet event, quillharbor_trace_outlet trace,
                                void* context) const {
  if (set_outlets_ == nullptr) return false;
  set_outlets_(event, trace, context);
  return true;
}
