#include "workqueue/worker_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/workqueue/trace_capture.h"

namespace {

// Hands out its items, then fails every take the way `ended` says.
struct scripted_queue {
  enum class ending { interrupted, semaphore_error, must_not_be_reached };

  std::deque<int*> items;
  ending ended = ending::interrupted;
  int takes = 0;

  int* take() {
    ++takes;
    if (items.empty()) {
      if (ended == ending::semaphore_error) throw threadutil::semaphore_error();
      if (ended == ending::must_not_be_reached) ADD_FAILURE() << "take after the stop test";
      throw threadutil::semaphore_interrupted();
    }
    int* item = items.front();
    items.pop_front();
    return item;
  }
  std::size_t size() const { return items.size(); }
};

struct loop_run {
  std::vector<std::pair<int*, std::int32_t>> handed;
  int pauses = 0;
};

// Runs the loop on `queue`; consume(item, number) may throw.
loop_run run_loop(scripted_queue& queue, bool running,
                  const std::function<void(int*, std::int32_t)>& consume = {}) {
  loop_run run;
  const std::atomic<bool> flag{running};
  run_worker_loop(
      queue, flag,
      [&](int* item, std::int32_t number) {
        run.handed.emplace_back(item, number);
        if (consume) consume(item, number);
      },
      [&]() noexcept { ++run.pauses; });
  return run;
}

TEST(record_number, continues_after_the_largest_at_the_smallest) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {0, 1}, {-1, 0}, {2147483646, 2147483647}, {2147483647, INT32_MIN}, {INT32_MIN, INT32_MIN + 1}};
  for (const auto& [number, next] : cases) EXPECT_EQ(next_record_number(number), next) << number;
}

TEST(worker_loop, hands_items_on_in_order_numbered_with_a_pause_after_each) {
  int items[3] = {};
  scripted_queue queue{{&items[0], &items[1], &items[2]}};
  trace_capture traces;
  const loop_run run = run_loop(queue, true);
  const std::vector<std::pair<int*, std::int32_t>> expected = {
      {&items[0], 0}, {&items[1], 1}, {&items[2], 2}};
  EXPECT_EQ(run.handed, expected);
  EXPECT_EQ(run.pauses, 3);
  EXPECT_TRUE(traces.texts().empty());  // the interrupt ends the loop silently
}

TEST(worker_loop, traces_each_failed_record_and_keeps_going) {
  struct failure_case {
    std::function<void()> fail;
    const char* text;
  };
  const failure_case cases[] = {
      {[] { throw script_exec_error{2, "boom"}; }, "error: on_dequeue code:2 message:boom"},
      {[] { throw script_exec_error{-4, ""}; }, "error: on_dequeue code:-4 message:"},
      {[] { throw std::bad_alloc(); }, "error: on_dequeue message:not enough memory"},
      {[] { throw std::runtime_error("odd"); }, "error: on_dequeue message:odd"},
      {[] { throw 7; }, "error: on_dequeue message:unknown exception"},
  };
  std::vector<int> items(std::size(cases));
  scripted_queue queue;
  for (int& item : items) queue.items.push_back(&item);
  trace_capture traces;
  const loop_run run = run_loop(queue, true, [&](int* item, std::int32_t) {
    cases[item - items.data()].fail();
  });
  std::vector<std::string> expected;
  for (const auto& c : cases) expected.emplace_back(c.text);
  EXPECT_EQ(traces.texts(), expected);
  ASSERT_EQ(run.handed.size(), std::size(cases));
  for (std::size_t i = 0; i < run.handed.size(); ++i) EXPECT_EQ(run.handed[i].second, std::int32_t(i));
  EXPECT_EQ(run.pauses, int(std::size(cases)));
}

TEST(worker_loop, failed_take_is_traced_once_and_ends_the_loop) {
  int item = 0;
  scripted_queue queue{{&item}, scripted_queue::ending::semaphore_error};
  trace_capture traces;
  const loop_run run = run_loop(queue, true);
  EXPECT_EQ(run.handed.size(), 1u);
  EXPECT_EQ(queue.takes, 2);
  EXPECT_EQ(traces.texts(), std::vector<std::string>{"error: worker message:take failed, the worker ends"});
}

TEST(worker_loop, stopped_loop_drains_what_is_queued_without_waiting_for_more) {
  int items[2] = {};
  scripted_queue queue{{&items[0], &items[1]}, scripted_queue::ending::must_not_be_reached};
  const loop_run run = run_loop(queue, false);
  EXPECT_EQ(run.handed.size(), 2u);
  EXPECT_EQ(queue.takes, 2);  // the empty queue is seen by its size, not by a take

  scripted_queue empty{{}, scripted_queue::ending::must_not_be_reached};
  EXPECT_TRUE(run_loop(empty, false).handed.empty());
  EXPECT_EQ(empty.takes, 0);
}

TEST(worker_loop, null_wake_up_is_neither_handed_on_nor_numbered) {
  int items[2] = {};
  scripted_queue queue{{&items[0], nullptr, &items[1]}};
  const loop_run run = run_loop(queue, true);
  const std::vector<std::pair<int*, std::int32_t>> expected = {{&items[0], 0}, {&items[1], 1}};
  EXPECT_EQ(run.handed, expected);
  EXPECT_EQ(run.pauses, 2);
}

TEST(worker_loop, null_wake_up_behind_the_records_ends_a_stopped_loop_uninterrupted) {
  int items[2] = {};
  scripted_queue queue{{&items[0], &items[1], nullptr}, scripted_queue::ending::must_not_be_reached};
  EXPECT_EQ(run_loop(queue, false).handed.size(), 2u);
  EXPECT_EQ(queue.takes, 3);
}

// A queue whose interrupt and put fail as told.
struct failing_queue {
  bool interrupt_fails;
  bool put_fails;
  bool interrupted = false;
  std::vector<int*> put_items{};

  void interrupt() {
    if (interrupt_fails) throw threadutil::semaphore_error();
    interrupted = true;
  }
  void put(int* item) {
    if (put_fails) throw std::bad_alloc();
    put_items.push_back(item);
  }
};

TEST(stop_wake_up, falls_back_to_a_null_item_and_reports_each_failure) {
  struct wake_case {
    bool interrupt_fails, put_fails, woken;
    std::vector<std::string> texts;
  };
  const wake_case cases[] = {
      {false, false, true, {}},
      {true, false, true, {"error: worker message:interrupt failed"}},
      {true, true, false,
       {"error: worker message:interrupt failed", "error: worker message:the worker cannot be woken"}},
  };
  for (const auto& c : cases) {
    failing_queue queue{c.interrupt_fails, c.put_fails};
    trace_capture traces;
    EXPECT_EQ(wake_worker(queue), c.woken);
    EXPECT_EQ(traces.texts(), c.texts);
    EXPECT_EQ(queue.interrupted, !c.interrupt_fails);
    const bool fell_back = c.interrupt_fails && !c.put_fails;
    EXPECT_EQ(queue.put_items, fell_back ? std::vector<int*>{nullptr} : std::vector<int*>{});
  }
}

TEST(stop_wake_up, records_stranded_by_a_failed_take_are_destroyed_and_counted) {
  guarded_queue<record> queue;
  queue.put(new record);
  queue.put(nullptr);
  queue.put(new record);
  trace_capture traces;
  destroy_stranded(queue);  // the leak check sees any record not destroyed
  EXPECT_EQ(queue.size(), 0u);
  destroy_stranded(queue);
  EXPECT_EQ(traces.texts(), std::vector<std::string>{"error: worker message:2 queued records dropped"});
}

}  // namespace
