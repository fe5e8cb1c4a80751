// Unload when the worker cannot be confirmed ended: what the worker may still
// touch stays alive, and the worker finishes on it unharmed.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "filter/load_filter.h"
#include "platform/thread.h"
#include "settings/settings_path.h"
#include "tests/workqueue/trace_capture.h"

extern "C" {
#include <lua.h>
}

namespace {

std::atomic<bool> holding{false};
std::atomic<bool> released{false};

// hold(): keeps the worker inside on_dequeue until the test lets it go.
int hold(lua_State*) {
  holding = true;
  while (!released) std::this_thread::yield();
  return 0;
}

void nothing(void*) noexcept {}

BOOL WINAPI no_variable(HTTP_FILTER_CONTEXT*, LPSTR, LPVOID, LPDWORD) { return FALSE; }

TEST(unload, leaves_what_an_unconfirmed_worker_reaches_alive) {
  const std::string dir = ::testing::TempDir();
  std::ofstream(dir + "/unconfirmed.lua") << R"lua(
function on_init() return true end
function on_enqueue(h) return true, {a = "1"} end
function on_dequeue(fields, n) hold(); after = fields.a end
function on_term() return true end
)lua";
  std::ofstream(dir + "/" + settings_file_name)
      << "<setting><script path=\"" << dir << "/unconfirmed.lua\" pool_size=\"2\"/></setting>";
  set_settings_path(dir);

  filter_state filter;
  HTTP_FILTER_VERSION version{};
  ASSERT_EQ(load_filter(filter, &version), TRUE);
  // The worker waits on the empty queue and does not touch its state meanwhile.
  lua_register(filter.main_state->L, "hold", hold);
  HTTP_FILTER_CONTEXT context{};
  context.GetServerVariable = no_variable;
  HTTP_FILTER_LOG log{};
  handle_notification(filter, &context, SF_NOTIFY_LOG, &log);
  while (!holding) std::this_thread::yield();

  // A handle whose wait fails: its thread has already been waited for.
  const platform::thread_handle worker = filter.worker_thread;
  filter.worker_thread = platform::start_thread(nothing, nullptr);
  ASSERT_TRUE(platform::wait_thread(filter.worker_thread));
  worker_context* const worker_context_left = filter.worker;
  guarded_queue<record>* const queue_left = filter.record_queue;
  script_state* const main_left = filter.main_state;

  trace_capture traces;
  EXPECT_EQ(unload_filter(filter), FALSE);
  EXPECT_EQ(traces.texts(),
            (std::vector<std::string>{
                "error: worker message:not known to have ended: its queue and main state are left "
                "alive",
                "quillharbor failed to unload (the worker thread is not confirmed ended)"}));
  EXPECT_FALSE(filter.gate.enter());  // no longer loaded

  // The worker goes on with what was left to it, then ends.
  released = true;
  ASSERT_TRUE(platform::wait_thread(worker));
  platform::close_thread(worker);
  lua_getglobal(main_left->L, "after");
  EXPECT_STREQ(lua_tostring(main_left->L, -1), "1");
  lua_pop(main_left->L, 1);
  close_script_state(main_left);
  delete queue_left;
  delete worker_context_left;
}

}  // namespace
