// Unload that stops waiting for a notification: the notification's record is
// still accounted for, and nothing it may touch is read without the lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "filter/load_filter.h"
#include "settings/settings_path.h"
#include "tests/workqueue/trace_capture.h"

extern "C" {
#include <lua.h>
}

namespace {

std::atomic<bool> napping{false};

// nap(): outlasts unload's wait. A sleep, not a signal from the test, so that
// nothing orders the notification's put after what unload did meanwhile.
int nap(lua_State*) {
  napping = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(unload_wait_milliseconds + 500));
  return 0;
}

BOOL WINAPI no_variable(HTTP_FILTER_CONTEXT*, LPSTR, LPVOID, LPDWORD) { return FALSE; }

TEST(unload, a_notification_that_outlives_the_wait_has_its_record_counted) {
  const std::string dir = ::testing::TempDir();
  std::ofstream(dir + "/straggler.lua") << R"lua(
function on_init() return true end
function on_enqueue(h) nap() return true, {a = "1"} end
function on_dequeue(fields, n) end
function on_term() return true end
)lua";
  std::ofstream(dir + "/" + settings_file_name)
      << "<setting><script path=\"" << dir << "/straggler.lua\" pool_size=\"1\"/></setting>";
  set_settings_path(dir);

  filter_state filter;
  HTTP_FILTER_VERSION version{};
  ASSERT_EQ(load_filter(filter, &version), TRUE);
  lua_register(filter.pool_states[0]->L, "nap", nap);
  std::thread straggler([&filter] {
    HTTP_FILTER_CONTEXT context{};
    context.GetServerVariable = no_variable;
    HTTP_FILTER_LOG log{};
    handle_notification(filter, &context, SF_NOTIFY_LOG, &log);
  });
  while (!napping) std::this_thread::yield();

  trace_capture traces;
  EXPECT_EQ(unload_filter(filter), FALSE);
  straggler.join();

  const counter_values counted = filter.counters.read();
  EXPECT_EQ(counted.dequeued + counted.dropped_at_unload + counted.dropped_by_limit, 1u);
  EXPECT_EQ(counted.dropped_at_unload, 1u);
  const auto texts = traces.texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], unload_gave_up);
  EXPECT_EQ(texts[1], "quillharbor failed to unload (notifications still running)");
  EXPECT_EQ(texts[2],
            "error: on_enqueue message:the filter was unloaded meanwhile: the record is dropped");

  // What unload left to the notification, freed now that it has gone.
  close_pool(filter);
  delete filter.record_queue;
}

}  // namespace
