// The module loaded from a fresh directory, with outlets that a test can wait on.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/fake_request.h"
#include "tests/support/loaded_module.h"

// Trace texts and events as the module writes them, from any of its threads.
class waitable_capture {
 public:
  std::vector<std::string> traces() const;  // text after "[tid] ", no line feed
  std::vector<captured_event> events() const;

  // Blocks until `done(traces)` holds; false when it still does not after
  // `limit`, which only keeps a broken module from hanging the run.
  bool wait_for(const std::function<bool(const std::vector<std::string>&)>& done,
                std::chrono::seconds limit = std::chrono::seconds(60)) const;

  static void QUILLHARBOR_CALL on_event(void* self, unsigned short type, unsigned int id,
                                        const char* text);
  static void QUILLHARBOR_CALL on_trace(void* self, const char* line);

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<captured_event> events_;
  std::vector<std::string> traces_;
};

class reliability_fixture : public ::testing::Test {
 protected:
  // Writes the script and settings beside a fresh copy of the module and loads it.
  BOOL load(const std::string& script, int pool_size = 1, int process_interval = 0);
  // Loads with whatever settings file the test left in dir (or none).
  BOOL load_as_is();
  // Copies and opens the module, outlets routed to capture, without loading.
  void open_module();

  DWORD notify(fake_request& request) {
    return module->http_filter_proc(&request.context, SF_NOTIFY_LOG, &request.log);
  }
  BOOL unload() { return module->terminate_filter(0); }

  std::vector<std::string> traces() const { return capture.traces(); }
  std::vector<captured_event> events() const { return capture.events(); }
  std::size_t count_traces(const std::string& text) const;

  scratch_directory dir;
  waitable_capture capture;
  std::unique_ptr<loaded_module> module;
  HTTP_FILTER_VERSION version{};
};

// The four callbacks, each replaceable; the defaults keep everything and
// trace each record as "dequeue <n>".
struct script_parts {
  std::string chunk;
  std::string on_init = "function on_init() return true end";
  std::string on_enqueue = "function on_enqueue(h) return true, {} end";
  std::string on_dequeue = "function on_dequeue(f, n) ndebug('dequeue ' .. n) end";
  std::string on_term = "function on_term() return true end";
  std::string text() const;
};
