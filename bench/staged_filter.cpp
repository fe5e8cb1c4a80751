#include "bench/staged_filter.h"

staged_filter::staged_filter(const std::string& script_path, int pool_size, int process_interval)
    : staged_(QUILLHARBOR_MODULE_PATH, settings_document(script_path, process_interval, pool_size)),
      module_(std::make_unique<filter_module>(staged_.module_path())) {
  module_->set_outlets(&staged_filter::on_event, &staged_filter::on_trace, this);
}

// The module copy goes before its directory.
staged_filter::~staged_filter() { module_.reset(); }

bool staged_filter::load() {
  HTTP_FILTER_VERSION version{};
  return module_->get_filter_version(&version) != FALSE;
}

bool staged_filter::terminate() { return module_->terminate_filter(0) != FALSE; }

void QUILLHARBOR_CALL staged_filter::on_trace(void* self, const char*) {
  static_cast<staged_filter*>(self)->trace_lines_.fetch_add(1);
}
