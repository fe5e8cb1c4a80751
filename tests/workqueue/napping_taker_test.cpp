#include "workqueue/napping_taker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "workqueue/guarded_queue.h"

namespace {

// Time moves only when the scripted queue says a take lasted so long.
struct scripted_clock {
  using duration = std::chrono::microseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<scripted_clock>;
  static constexpr bool is_steady = true;
  static inline time_point current{};
  static time_point now() { return current; }
};

// Each take lasts the next scripted time; each nap finds the next scripted
// answer. Logs "take" and "nap" in the order they were asked.
struct scripted_queue {
  std::deque<int> take_microseconds;
  std::deque<bool> nap_finds;
  std::string calls;
  int item = 0;

  int* take() {
    calls += "take ";
    scripted_clock::current += std::chrono::microseconds(take_microseconds.front());
    take_microseconds.pop_front();
    return &item;
  }
  bool take_after_nap(std::uint32_t, int*& taken) {
    calls += "nap ";
    const bool found = nap_finds.front();
    nap_finds.pop_front();
    if (found) taken = &item;
    return found;
  }
  std::size_t size() const { return 0; }
};

TEST(napping_taker, naps_only_while_records_come_within_a_nap) {
  scripted_queue queue;
  // A record within the nap, then two naps that find one, a quiet nap, then
  // records a whole nap apart or more: back to sleeping until woken.
  queue.take_microseconds = {150, 200, 5000, 30, 10};
  queue.nap_finds = {true, true, false, false};
  napping_taker<scripted_queue, scripted_clock> taker(queue, 200);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(taker.take(), &queue.item);
  EXPECT_EQ(queue.calls, "take nap nap nap take take take nap take ");
}

// Producers put in bursts and wait, each time, until the worker side has
// taken everything: a wake-up lost between a nap, its end and the sleep after
// it would leave a record behind and end the test by its deadline. The pauses
// straddle the nap, so the taker keeps switching between napping and sleeping.
TEST(napping_taker, stress_hand_off_loses_no_wake_up_and_keeps_order) {
  constexpr int producers = 2, each = 1500;
  constexpr std::uint32_t nap = 50;
  struct item {
    int producer;
    int sequence;
  };
  std::vector<item> items;
  for (int p = 0; p < producers; ++p)
    for (int i = 0; i < each; ++i) items.push_back({p, i});
  guarded_queue<item> queue;
  std::atomic<int> put{0}, taken{0};
  std::atomic<bool> lost{false}, disordered{false};

  std::thread worker([&] {
    napping_taker<guarded_queue<item>> taker(queue, nap);
    std::vector<int> next(producers, 0);
    try {
      for (int n = 0; n < producers * each; ++n) {
        const item* got = taker.take();
        if (got->sequence != next[got->producer]++) disordered = true;
        taken.fetch_add(1);
      }
    } catch (const threadutil::semaphore_interrupted&) {
    }
  });
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p) {
    threads.emplace_back([&, p] {
      std::minstd_rand random(static_cast<unsigned>(p + 1));
      for (int i = 0; i < each && !lost;) {
        int mine = 0;
        for (int burst = 1 + static_cast<int>(random() % 4); burst > 0 && i < each; --burst, ++i) {
          queue.put(&items[static_cast<std::size_t>(p * each + i)]);
          mine = put.fetch_add(1) + 1;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (taken.load() < mine) {
          if (std::chrono::steady_clock::now() > deadline) {
            lost = true;
            break;
          }
          std::this_thread::yield();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (3 * nap)));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  if (lost) queue.interrupt();  // frees a worker left asleep
  worker.join();
  EXPECT_FALSE(lost) << "a record was left in the queue: lost wake-up";
  EXPECT_FALSE(disordered);
  EXPECT_EQ(taken.load(), producers * each);
}

}  // namespace
