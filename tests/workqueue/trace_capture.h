// Collects debug trace texts, without the "[thread] " prefix and line end.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "filter/diagnostics.h"

class trace_capture {
 public:
  trace_capture() { set_outlets(nullptr, &capture, this); }
  ~trace_capture() { set_outlets(nullptr, nullptr, nullptr); }
  trace_capture(const trace_capture&) = delete;
  trace_capture& operator=(const trace_capture&) = delete;

  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> hold(mutex_);
    return texts_;
  }

 private:
  static void capture(void* context, const char* line) {
    auto* self = static_cast<trace_capture*>(context);
    std::string text(line);
    const auto start = text.find("] ");
    text = text.substr(start == std::string::npos ? 0 : start + 2);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::lock_guard<std::mutex> hold(self->mutex_);
    self->texts_.push_back(text);
  }

  std::mutex mutex_;
  std::vector<std::string> texts_;
};
