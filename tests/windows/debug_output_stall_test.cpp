// A debugger-output viewer that made the buffer and its events and then never
// frees the buffer: OutputDebugStringA waits 10 s a line for it. No writer, no
// notification and no load or unload may wait on it. Each case runs in a
// process of its own: the output thread it leaves held by the viewer ends only
// with the process.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "filter/diagnostics.h"
#include "platform/debug_output.h"
#include "platform/debug_output_listener.h"
#include "tests/support/fake_request.h"
#include "tests/support/loaded_module.h"

namespace {

using std::chrono::steady_clock;

// Far below what one line handed to the viewer directly costs (10 s), far
// above what the stop is allowed (a second); a bound for a failing test.
constexpr auto within = std::chrono::seconds(6);

TEST(stalled_listener, neither_writers_nor_the_stop_wait_for_it) {
  platform::debug_output_listener stalled(false);
  const auto began = steady_clock::now();
  platform::start_debug_output();
  for (int i = 0; i < 5; ++i) debug_trace("held back " + std::to_string(i));
  platform::stop_debug_output();
  EXPECT_LT(steady_clock::now() - began, within);
}

const char* const tracing_script = R"(
function on_init() ndebug('init') return true end
function on_enqueue(h) ndebug('enqueue') return true, {a = 'b'} end
function on_dequeue(f, n) ndebug('dequeue ' .. n) end
function on_term() ndebug('term') return true end
)";

TEST(stalled_listener, the_module_loads_notifies_and_unloads_without_waiting) {
  platform::debug_output_listener stalled(false);
  scratch_directory dir;
  const auto script = dir.write("tracing.lua", tracing_script);
  dir.write("quillharbor.setting", settings_text(script, 2));
  const auto began = steady_clock::now();
  {
    loaded_module module(dir.path(), false);
    HTTP_FILTER_VERSION version{};
    ASSERT_EQ(module.get_filter_version(&version), TRUE);
    for (int i = 0; i < 5; ++i) {
      fake_request request;
      EXPECT_EQ(module.http_filter_proc(&request.context, SF_NOTIFY_LOG, &request.log),
                static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
    }
    EXPECT_EQ(module.terminate_filter(0), TRUE);
  }
  EXPECT_LT(steady_clock::now() - began, within);
}

}  // namespace
