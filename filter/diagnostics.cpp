#include "filter/diagnostics.h"

#include <atomic>
#include <cstring>
#include <sstream>
#include <string>

#include "filter/text_cut.h"
#include "filter/trace_file.h"
#include "platform/debug_output.h"
#include "platform/event_log.h"
#include "platform/thread_id.h"

namespace {

std::atomic<quillharbor_event_outlet> event_outlet{nullptr};
std::atomic<quillharbor_trace_outlet> trace_outlet{nullptr};
std::atomic<void*> outlet_context{nullptr};

}  // namespace

void set_outlets(quillharbor_event_outlet event, quillharbor_trace_outlet trace,
                 void* context) noexcept {
  outlet_context.store(context);
  event_outlet.store(event);
  trace_outlet.store(trace);
}

void report_event(std::uint16_t type, std::uint32_t identifier, const char* text) noexcept {
  std::string cut;
  try {
    const std::string_view whole(text);
    if (whole.size() > outlet_limit) {
      cut = cut_text(whole, outlet_limit);
      text = cut.c_str();
    }
  } catch (...) {
    text = "quillharbor: an event text too long to keep";
  }
  append_trace_event(type == event_success, identifier, text);
  if (const auto outlet = event_outlet.load()) {
    outlet(outlet_context.load(), type, identifier, text);
    return;
  }
  platform::write_event_log(type, identifier, text);
}

void debug_trace(const std::string& text) noexcept {
  try {
    std::ostringstream line;
    line << "[" << platform::current_thread_id() << "]"
         << " ";
    write_cut(line, text, outlet_limit);
    line << std::endl;
    // A stream that runs out of memory stops writing and only sets badbit: the
    // line would go out cut short.
    if (!line) return;
    // Handed on zero-terminated, so an embedded NUL cuts the line there.
    const std::string whole = line.str();
    append_trace_file(text);
    if (const auto outlet = trace_outlet.load()) {
      outlet(outlet_context.load(), whole.c_str());
      return;
    }
    platform::write_debug_output(whole.c_str());
  } catch (...) {
    // A trace line that cannot be composed is lost, as an unheard one is.
  }
}
