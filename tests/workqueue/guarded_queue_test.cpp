#include "workqueue/guarded_queue.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <thread>
#include <vector>

using threadutil::semaphore_error;
using threadutil::semaphore_interrupted;

namespace {

std::vector<int*> take_n(guarded_queue<int>& queue, std::size_t n) {
  std::vector<int*> taken;
  for (std::size_t i = 0; i < n; ++i) taken.push_back(queue.take());
  return taken;
}

TEST(guarded_queue, lends_initial_items_in_order_and_puts_returns_behind) {
  std::array<int, 3> states{};
  int* initial[] = {&states[0], &states[1], &states[2]};
  guarded_queue<int> pool(initial, 3);
  EXPECT_EQ(pool.size(), 3u);
  int* first = pool.take();
  EXPECT_EQ(first, &states[0]);
  pool.put(first);  // behind the states that were already idle
  EXPECT_EQ(take_n(pool, 3), (std::vector<int*>{&states[1], &states[2], &states[0]}));
}

TEST(guarded_queue, counts_stored_items) {
  int a = 0, b = 0;
  guarded_queue<int> queue;
  EXPECT_EQ(queue.size(), 0u);
  queue.put(&a);
  queue.put(&b);
  EXPECT_EQ(queue.take(), &a);
  EXPECT_EQ(queue.size(), 1u);
}

TEST(guarded_queue, refuses_more_initial_items_than_the_count_can_hold) {
  // The count is checked before any item is read.
  const std::size_t too_many = std::size_t{1} << 31;
  EXPECT_THROW(guarded_queue<int>(nullptr, too_many), semaphore_error);
}

TEST(guarded_queue, fixed_storage_goes_round_and_refuses_an_item_it_never_lent) {
  std::array<int, 3> states{};
  int* initial[] = {&states[0], &states[1], &states[2]};
  guarded_queue<int> pool(initial, 3, queue_storage::fixed);
  for (int round = 0; round < 7; ++round) EXPECT_TRUE(pool.put(pool.take()));
  int stranger = 0;
  EXPECT_THROW(pool.put(&stranger), std::length_error);
  EXPECT_EQ(pool.size(), 3u);
  EXPECT_EQ(take_n(pool, 3), (std::vector<int*>{&states[1], &states[2], &states[0]}));
}

// A semaphore that never blocks and fails the one operation it is told to;
// the first of each pair built is a queue's lock, the second its count.
struct scripted_semaphore {
  enum class op { none, lock_wait, lock_post, count_post };
  static inline op failing = op::none;
  static inline int built = 0;

  explicit scripted_semaphore(std::int32_t initial) : units(initial), is_lock(built++ % 2 == 0) {}
  void wait() {
    if (is_lock && failing == op::lock_wait) throw semaphore_error();
    if (units == 0) throw semaphore_interrupted();
    --units;
  }
  void post() {
    if (failing == (is_lock ? op::lock_post : op::count_post)) throw semaphore_error();
    ++units;
  }
  void interrupt() {}
  std::int32_t units;
  bool is_lock;
};

TEST(guarded_queue, put_throws_only_when_the_item_stayed_the_callers) {
  using op = scripted_semaphore::op;
  struct put_case {
    op failing;
    bool throws, told;
  };
  const put_case cases[] = {
      {op::none, false, true},
      {op::lock_wait, true, false},
      {op::lock_post, true, false},    // stored, then taken out again inside the lock
      {op::count_post, false, false},  // stored: the queue's, though no taker was told
  };
  for (const auto& c : cases) {
    int item = 0;
    guarded_queue<int, scripted_semaphore> queue;
    scripted_semaphore::failing = c.failing;
    bool told = false;
    if (c.throws) {
      EXPECT_THROW(queue.put(&item), semaphore_error);
    } else {
      told = queue.put(&item);
    }
    scripted_semaphore::failing = op::none;
    EXPECT_EQ(told, c.told);
    std::vector<int*> stored;
    queue.drain_unshared([&](int* it) { stored.push_back(it); });
    EXPECT_EQ(stored, c.throws ? std::vector<int*>{} : std::vector<int*>{&item})
        << static_cast<int>(c.failing);
  }
}

TEST(guarded_queue, take_blocks_until_an_item_is_put) {
  for (const bool pool : {false, true}) {
    int lent = 0, returned = 0;
    int* initial[] = {&lent};
    guarded_queue<int> queue(initial, pool ? 1 : 0);
    if (pool) {
      EXPECT_EQ(queue.take(), &lent);  // every item lent out
    }
    std::atomic<int*> got{nullptr};
    std::thread taker([&] { got = queue.take(); });
    queue.put(&returned);
    taker.join();
    EXPECT_EQ(got, &returned) << (pool ? "pool" : "record queue");
  }
}

TEST(guarded_queue, interrupted_queue_still_yields_its_items_then_refuses) {
  int items[3] = {};
  guarded_queue<int> queue;
  for (int& item : items) queue.put(&item);
  queue.interrupt();
  EXPECT_EQ(take_n(queue, 3), (std::vector<int*>{&items[0], &items[1], &items[2]}));
  EXPECT_THROW(queue.take(), semaphore_interrupted);
  EXPECT_THROW(queue.take(), semaphore_interrupted);
  EXPECT_EQ(queue.size(), 0u);
}

TEST(guarded_queue, interrupt_wakes_a_blocked_taker) {
  guarded_queue<int> queue;
  std::atomic<bool> interrupted{false};
  std::thread taker([&] {
    try {
      queue.take();
    } catch (const semaphore_interrupted&) {
      interrupted = true;
    }
  });
  queue.interrupt();
  taker.join();
  EXPECT_TRUE(interrupted);
}

TEST(guarded_queue, destruction_and_drain_leave_the_items_alone) {
  // Items on the stack: freeing one would be caught by the sanitizers.
  int items[3] = {1, 2, 3};
  {
    guarded_queue<int> queue;
    for (int& item : items) queue.put(&item);
  }
  guarded_queue<int> queue;
  for (int& item : items) queue.put(&item);
  std::vector<int*> drained;
  queue.drain_unshared([&](int* item) { drained.push_back(item); });
  EXPECT_EQ(drained, (std::vector<int*>{&items[0], &items[1], &items[2]}));
  EXPECT_EQ(queue.size(), 0u);
  EXPECT_EQ(items[0] + items[1] + items[2], 6);
}

// Several putters and takers at once: every item comes out exactly once, and
// each taker sees each putter's items in the order they were put.
TEST(guarded_queue, shared_by_many_putters_and_takers) {
  constexpr int putters = 4, takers = 3, per_putter = 25000;
  std::vector<int> items(putters * per_putter);  // item p*per_putter+s: putter p, sequence s
  guarded_queue<int> queue;
  std::vector<std::vector<int*>> taken(takers);
  std::vector<std::thread> taking;
  for (int t = 0; t < takers; ++t) {
    taking.emplace_back([&queue, &mine = taken[t]] {
      for (;;) {
        try {
          mine.push_back(queue.take());
        } catch (const semaphore_interrupted&) {
          return;
        }
      }
    });
  }
  std::vector<std::thread> putting;
  for (int p = 0; p < putters; ++p) {
    putting.emplace_back([&, p] {
      for (int s = 0; s < per_putter; ++s) queue.put(&items[p * per_putter + s]);
    });
  }
  for (auto& t : putting) t.join();
  queue.interrupt();
  for (auto& t : taking) t.join();

  std::vector<int> seen(items.size(), 0);
  for (const auto& mine : taken) {
    std::vector<std::ptrdiff_t> last(putters, -1);
    for (int* item : mine) {
      const std::ptrdiff_t index = item - items.data();
      ++seen[index];
      const std::ptrdiff_t putter = index / per_putter;
      EXPECT_LT(last[putter], index);
      last[putter] = index;
    }
  }
  for (std::size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], 1) << i;
  EXPECT_EQ(queue.size(), 0u);
}

}  // namespace
