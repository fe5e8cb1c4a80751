// A host that calls the entry points out of the web server's order.
#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "tests/filter/filter_fixture.h"

namespace {

using contract_test = filter_fixture;

// Requests whose GetServerVariable waits until the test lets them go, so their
// notifications stay inside the module as long as the test wants.
class held_requests {
 public:
  held_requests() {
    request.context.ServerContext = this;
    request.context.GetServerVariable = &hold;
  }
  void wait_until_inside(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return inside_ >= count; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  fake_request request;

 private:
  static BOOL WINAPI hold(HTTP_FILTER_CONTEXT* context, LPSTR, LPVOID, LPDWORD) {
    auto* self = static_cast<held_requests*>(context->ServerContext);
    std::unique_lock<std::mutex> lock(self->mutex_);
    ++self->inside_;
    self->changed_.notify_all();
    self->changed_.wait(lock, [&] { return self->released_; });
    return FALSE;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  int inside_ = 0;
  bool released_ = false;
};

// Held requests wait in the HOLD lookup; others have HOLD and trace "enqueue".
const std::string held_script =
    "function on_init() return true end\n"
    "function on_enqueue(h)\n"
    "  local c = enqueue_context.new(h)\n"
    "  if c:server_variable('HOLD') ~= '' then ndebug('enqueue') end\n"
    "  return true, {}\n"
    "end\n"
    "function on_dequeue(f, n) ndebug('dequeue') end\n"
    "function on_term() ndebug('term') return true end\n";

long count_of(const std::vector<std::string>& texts, const std::string& text) {
  return std::count(texts.begin(), texts.end(), text);
}

// A second site naming the module shares the running filter; each unload
// gives back one load and the last one unloads.
TEST_F(contract_test, a_second_load_shares_the_first_and_the_last_unload_unloads) {
  ASSERT_EQ(load(held_script), TRUE);
  dir.write("quillharbor.setting", "<wrong/>");  // not read again
  EXPECT_EQ(module->get_filter_version(&version), TRUE);
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  fake_request request;
  request.set_variable("HOLD", "no");
  notify(request);
  EXPECT_EQ(count_of(traces(), "enqueue"), 1);  // still loaded
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  EXPECT_EQ(module->terminate_filter(0), FALSE);
  const auto got = events();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].type, 0);
  EXPECT_EQ(got[1].identifier, 1u);
  EXPECT_EQ(got[1].text,
            "quillharbor loaded successfully (shares the filter already loaded, and its settings: 2 loads)");
  EXPECT_EQ(traces(), (std::vector<std::string>{"enqueue", "dequeue", "term"}));
}

TEST_F(contract_test, unload_waits_for_notifications_inside_and_shuts_out_new_ones) {
  ASSERT_EQ(load(held_script, 3), TRUE);
  held_requests held;
  std::vector<std::thread> inside;
  for (int i = 0; i < 2; ++i) inside.emplace_back([&] { notify(held.request); });
  held.wait_until_inside(2);
  auto unloaded = std::async(std::launch::async, [&] { return module->terminate_filter(0); });

  // Probe until unload has begun: from then on a notification returns at once.
  fake_request probe;
  probe.set_variable("HOLD", "no");
  long admitted = 0;
  for (;;) {
    notify(probe);
    if (count_of(traces(), "enqueue") == admitted) break;
    admitted = count_of(traces(), "enqueue");
  }
  EXPECT_EQ(unloaded.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  held.release();
  for (auto& thread : inside) thread.join();
  EXPECT_EQ(unloaded.get(), TRUE);
  notify(probe);  // after unload

  const auto texts = traces();
  EXPECT_EQ(count_of(texts, "enqueue"), admitted);
  EXPECT_EQ(count_of(texts, "dequeue"), admitted + 2);  // the held two were queued too
  EXPECT_EQ(texts.back(), "term");
}

TEST_F(contract_test, unload_gives_up_on_a_notification_that_never_ends_and_frees_nothing_it_uses) {
  ASSERT_EQ(load(held_script), TRUE);
  held_requests held;
  std::thread inside([&] { notify(held.request); });
  held.wait_until_inside(1);
  EXPECT_EQ(module->terminate_filter(0), FALSE);
  held.release();  // it finishes in memory that unload left alone
  inside.join();
  EXPECT_EQ(module->get_filter_version(&version), FALSE);
  EXPECT_EQ(module->terminate_filter(0), FALSE);

  const auto texts = traces();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(),
            "quillharbor unload: notifications still running after 3000 ms; "
            "their script states and queues are left in memory");
  EXPECT_EQ(events().back().text, "quillharbor failed to load (an earlier unload did not finish)");
  // The module stays mapped, holding what it left: unmapped, that memory would
  // look leaked to the leak checker.
  static loaded_module* kept = nullptr;
  kept = module.release();
  (void)kept;
}

struct overlap_case {
  const char* name;
  bool load_blocks;  // on_init waits for the test; otherwise on_term does
  const char* refused_load;
};

class overlap_test : public filter_fixture, public ::testing::WithParamInterface<overlap_case> {};

// While a load or an unload runs, another load or unload is refused at once
// and the running one ends as it would have alone.
TEST_P(overlap_test, one_load_or_unload_at_a_time) {
  const bool load_blocks = GetParam().load_blocks;
  const std::string wait =
      "  local f = io.open(dir .. 'inside', 'w') f:close()\n"
      "  repeat f = io.open(dir .. 'go') until f\n"
      "  f:close()\n";
  const auto script = dir.write(
      "script.lua", "dir = '" + dir.path().generic_string() + "/'\n" +
                        "function on_init()\n" + (load_blocks ? wait : "") + "  return true\nend\n" +
                        "function on_term()\n" + (load_blocks ? "" : wait) + "  return true\nend\n");
  dir.write("quillharbor.setting", settings_text(script, 1));
  module = std::make_unique<loaded_module>(dir.path());
  if (!load_blocks) {
    ASSERT_EQ(module->get_filter_version(&version), TRUE);
  }

  auto running = std::async(std::launch::async, [&] {
    HTTP_FILTER_VERSION own{};
    return load_blocks ? module->get_filter_version(&own) : module->terminate_filter(0);
  });
  while (!std::filesystem::exists(dir.path() / "inside"))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(module->terminate_filter(0), FALSE);
  EXPECT_EQ(module->get_filter_version(&version), FALSE);
  dir.write("go", "");
  EXPECT_EQ(running.get(), TRUE);

  const auto got = events();
  ASSERT_GE(got.size(), 2u);
  const captured_event& refused = got[load_blocks ? 0 : 1];
  EXPECT_EQ(refused.type, 1);
  EXPECT_EQ(refused.identifier, 14u);
  EXPECT_EQ(refused.text, GetParam().refused_load);
  // What ran is whole: the load unloads, the unload loads again.
  if (!load_blocks) {
    EXPECT_EQ(module->get_filter_version(&version), TRUE);
  }
  EXPECT_EQ(module->terminate_filter(0), TRUE);
}

INSTANTIATE_TEST_SUITE_P(
    blocked_in, overlap_test,
    ::testing::Values(
        overlap_case{"on_init", true, "quillharbor failed to load (another load is running)"},
        overlap_case{"on_term", false, "quillharbor failed to load (an unload is running)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
