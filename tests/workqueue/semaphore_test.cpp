#include "workqueue/semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

using threadutil::semaphore;
using threadutil::semaphore_error;
using threadutil::semaphore_interrupted;

namespace {

TEST(semaphore, refuses_a_negative_initial_count) {
  for (const std::int32_t count : {-1, INT32_MIN}) {
    EXPECT_THROW(semaphore{count}, semaphore_error) << count;
  }
  EXPECT_NO_THROW(semaphore{semaphore::max_count});
}

TEST(semaphore, hands_out_units_before_reporting_the_interrupt) {
  semaphore s(2);
  s.interrupt();
  s.interrupt();  // a second raise changes nothing
  s.wait();
  s.wait();
  EXPECT_THROW(s.wait(), semaphore_interrupted);
  EXPECT_THROW(s.wait(), semaphore_interrupted);
  // The interrupt is never lowered, and a later unit still comes first.
  s.post();
  s.wait();
  EXPECT_THROW(s.wait(), semaphore_interrupted);
}

TEST(semaphore, refuses_a_post_beyond_the_maximum_and_keeps_the_count) {
  semaphore s(semaphore::max_count);
  EXPECT_THROW(s.post(), semaphore_error);
  s.wait();
  s.post();  // back at the maximum: the refused post added nothing
  EXPECT_THROW(s.post(), semaphore_error);
}

TEST(semaphore, blocked_waiter_wakes_with_the_interrupt) {
  semaphore s(0);
  std::atomic<bool> interrupted{false};
  std::thread waiter([&] {
    try {
      s.wait();
    } catch (const semaphore_interrupted&) {
      interrupted = true;
    }
  });
  s.interrupt();
  waiter.join();
  EXPECT_TRUE(interrupted);
}

TEST(semaphore, blocked_waiter_takes_a_unit_posted_before_the_interrupt) {
  semaphore s(0);
  std::atomic<bool> took{false};
  std::thread waiter([&] {
    s.wait();
    took = true;
  });
  s.post();
  s.interrupt();
  waiter.join();  // the wait returned normally, whenever the waiter ran
  EXPECT_TRUE(took);
  EXPECT_THROW(s.wait(), semaphore_interrupted);
}

TEST(semaphore, no_unit_is_lost_or_doubled_between_threads) {
  constexpr int posters = 4, waiters = 4, units_each = 20000;
  semaphore s(0);
  std::atomic<int> taken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < waiters; ++i) {
    threads.emplace_back([&] {
      for (;;) {
        try {
          s.wait();
        } catch (const semaphore_interrupted&) {
          return;
        }
        ++taken;
      }
    });
  }
  std::vector<std::thread> posting;
  for (int i = 0; i < posters; ++i) {
    posting.emplace_back([&] {
      for (int u = 0; u < units_each; ++u) s.post();
    });
  }
  for (auto& t : posting) t.join();
  s.interrupt();
  for (auto& t : threads) t.join();
  EXPECT_EQ(taken, posters * units_each);
}

// A nap takes a unit that is there or comes during it, reports a quiet nap,
// and prefers a unit to the interrupt as wait does.
TEST(semaphore, nap_takes_a_unit_that_is_there_or_comes_meanwhile) {
  enum outcome { took, nothing, interrupted };
  const struct {
    const char* name;
    std::int32_t units;
    bool raise_interrupt;
    bool post_meanwhile;
    outcome expected;
  } cases[] = {
      {"unit there", 1, false, false, took},
      {"quiet", 0, false, false, nothing},
      {"unit posted during the nap", 0, false, true, took},
      {"unit there after the interrupt", 1, true, false, took},
      {"interrupted and empty", 0, true, false, interrupted},
  };
  for (const auto& c : cases) {
    semaphore s(c.units);
    if (c.raise_interrupt) s.interrupt();
    std::thread poster([&] {
      if (!c.post_meanwhile) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // into the nap
      s.post();  // asks no wake-up: the nap's end finds the unit
    });
    outcome got = nothing;
    try {
      got = s.nap(c.post_meanwhile ? 500000 : 1000) ? took : nothing;
    } catch (const semaphore_interrupted&) {
      got = interrupted;
    }
    poster.join();
    EXPECT_EQ(got, c.expected) << c.name;
    if (got == nothing) {  // the quiet nap took nothing: a unit is still counted
      s.post();
      EXPECT_TRUE(s.nap(0)) << c.name;
    }
  }
}

TEST(semaphore, interrupt_ends_a_nap_at_once) {
  semaphore s(0);
  std::atomic<bool> interrupted{false};
  std::thread napper([&] {
    try {
      s.nap(600000000);  // ten minutes: only the interrupt ends it in time
    } catch (const semaphore_interrupted&) {
      interrupted = true;
    }
  });
  s.interrupt();
  napper.join();
  EXPECT_TRUE(interrupted);
}

// Each side sleeps on the other's post, with no interrupt to rescue it: a lost
// wake-up between a sleeper and a poster that takes no lock ends in a hang.
TEST(semaphore, ping_pong_loses_no_wake_up) {
  constexpr int rounds = 20000;
  semaphore ping(0), pong(0);
  std::thread other([&] {
    for (int r = 0; r < rounds; ++r) {
      ping.wait();
      pong.post();
    }
  });
  for (int r = 0; r < rounds; ++r) {
    ping.post();
    pong.wait();
  }
  other.join();
  SUCCEED();
}

}  // namespace
