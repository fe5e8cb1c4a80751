#include "workqueue/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "script/callbacks.h"
#include "tests/workqueue/trace_capture.h"

extern "C" {
#include <lua.h>
}

namespace {

#ifndef QUILLHARBOR_WORKER_RECORDS
#define QUILLHARBOR_WORKER_RECORDS 100000
#endif

constexpr int records_per_producer = QUILLHARBOR_WORKER_RECORDS;
constexpr int producers = 4;

// The worker whose first held record is waiting for Stop to begin.
std::atomic<worker_context*> holding_context{nullptr};
std::atomic<std::size_t> queued_at_stop{0};

// hold(): blocks the worker until Stop has cleared the running flag.
int hold(lua_State*) {
  worker_context* context = holding_context.load();
  while (context->running.load()) std::this_thread::yield();
  queued_at_stop = context->record_queue->size();
  return 0;
}

// A main state running `source`, a record queue and a worker over them.
class worker_fixture : public ::testing::Test {
 protected:
  void open(const std::string& source) {
    const std::string path = ::testing::TempDir() + "worker_test_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".lua";
    std::ofstream(path) << source;
    state_ = new script_state;
    try {
      open_script_state(*state_, path);
    } catch (const script_load_error& error) {
      delete state_;
      state_ = nullptr;
      throw std::runtime_error("script failed to load: code " + std::to_string(error.code));
    }
    lua_register(state_->L, "hold", hold);
    context_.record_queue = &queue_;
    context_.main_state = state_;
    context_.process_interval = &interval_;
    holding_context = &context_;
  }
  ~worker_fixture() override {
    if (thread_ != nullptr) stop();  // a test that failed before its Stop
    close_script_state(state_);
  }

  void start() {
    thread_ = start_worker(context_);
    ASSERT_NE(thread_, nullptr);
    EXPECT_TRUE(context_.running.load());
  }
  bool stop() {
    const bool stopped = stop_worker(context_, thread_) == worker_end::stopped;
    thread_ = nullptr;
    return stopped;
  }

  void put(std::initializer_list<std::pair<const char*, std::string>> fields) {
    record_builder builder;
    for (const auto& [key, value] : fields) builder.add(key, value);
    queue_.put(builder.build());
  }

  // A global of the main state; read only once the worker has ended.
  lua_Number number(const char* name) {
    lua_getglobal(state_->L, name);
    const lua_Number value = lua_tonumber(state_->L, -1);
    lua_pop(state_->L, 1);
    return value;
  }
  // The last sequence seen of each producer is its last one.
  void expect_every_producer_finished() {
    lua_getglobal(state_->L, "last");
    for (int p = 0; p < producers; ++p) {
      lua_rawgeti(state_->L, -1, p);
      EXPECT_EQ(lua_tonumber(state_->L, -1), records_per_producer - 1) << "producer " << p;
      lua_pop(state_->L, 1);
    }
    lua_pop(state_->L, 1);
  }
  std::string text(const char* name) {
    lua_getglobal(state_->L, name);
    const char* value = lua_tostring(state_->L, -1);
    std::string copy = value ? value : "(not a string)";
    lua_pop(state_->L, 1);
    return copy;
  }

  std::int32_t interval_ = 0;
  guarded_queue<record> queue_;
  script_state* state_ = nullptr;
  worker_context context_;
  platform::thread_handle thread_ = nullptr;
};

// Logs "id:number" for each record; a record with field hold waits for Stop.
const char* const logging_script = R"lua(
log = ""
function on_dequeue(fields, number)
  if fields.hold then hold() end
  log = log .. fields.id .. ":" .. number .. " "
end
)lua";

TEST_F(worker_fixture, stop_on_an_empty_queue_ends_the_worker_without_on_dequeue) {
  open(logging_script);
  start();
  EXPECT_TRUE(stop());
  EXPECT_EQ(text("log"), "");
}

TEST_F(worker_fixture, stop_drains_every_queued_record_in_order) {
  open(logging_script);
  interval_ = 1;  // the pause follows drained records too
  start();
  put({{"id", "a"}, {"hold", "1"}});
  for (const char* id : {"b", "c", "d"}) put({{"id", id}});
  EXPECT_TRUE(stop());
  EXPECT_EQ(text("log"), "a:0 b:1 c:2 d:3 ");
  EXPECT_EQ(queue_.size(), 0u);
}

TEST_F(worker_fixture, failing_on_dequeue_costs_each_record_one_trace_line) {
  open(R"lua(
numbers = ""
function on_dequeue(fields, number)
  numbers = numbers .. number .. " "
  error("bad " .. fields.id, 0)
end
)lua");
  trace_capture traces;
  start();
  for (const char* id : {"a", "b", "c"}) put({{"id", id}});
  EXPECT_TRUE(stop());
  EXPECT_EQ(text("numbers"), "0 1 2 ");
  EXPECT_EQ(traces.texts(), (std::vector<std::string>{"error: on_dequeue code:2 message:bad a",
                                                      "error: on_dequeue code:2 message:bad b",
                                                      "error: on_dequeue code:2 message:bad c"}));
}

// Checks that every producer's records arrive once each, in order, numbered
// without gaps; a record with field hold waits for Stop.
const char* const counting_script = R"lua(
last, count, faults = {}, 0, 0
function on_dequeue(fields, number)
  if fields.hold then
    hold()
  else
    local producer, sequence = tonumber(fields.p), tonumber(fields.s)
    if sequence ~= (last[producer] or -1) + 1 then faults = faults + 1 end
    last[producer] = sequence
  end
  if number ~= count then faults = faults + 1 end
  count = count + 1
end
)lua";

void produce(guarded_queue<record>& queue) {
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p) {
    threads.emplace_back([&queue, p] {
      for (int s = 0; s < records_per_producer; ++s) {
        record_builder builder;
        builder.add("p", std::to_string(p));
        builder.add("s", std::to_string(s));
        queue.put(builder.build());
      }
    });
  }
  for (auto& t : threads) t.join();
}

TEST_F(worker_fixture, producers_and_worker_at_once_then_stop) {
  open(counting_script);
  start();
  produce(queue_);
  EXPECT_TRUE(stop());
  EXPECT_EQ(number("count"), double(producers) * records_per_producer);
  EXPECT_EQ(number("faults"), 0);
  expect_every_producer_finished();
}

TEST_F(worker_fixture, stop_begun_with_records_queued_delivers_them_all) {
  open(counting_script);
  start();
  put({{"hold", "1"}});  // keeps the worker busy until Stop has begun
  produce(queue_);
  EXPECT_TRUE(stop());
  EXPECT_EQ(queued_at_stop.load(), std::size_t(producers) * records_per_producer);
  EXPECT_EQ(number("count"), double(producers) * records_per_producer + 1);
  EXPECT_EQ(number("faults"), 0);
  expect_every_producer_finished();
}

}  // namespace
