// The trace lines as a debugger-output viewer receives them from another
// thread, through the output thread that the filter starts at load.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "filter/diagnostics.h"
#include "platform/debug_output.h"
#include "platform/debug_output_listener.h"
#include "platform/thread.h"
#include "platform/thread_id.h"

namespace {

// A bound for a failing test; a passing one never waits this long.
constexpr std::uint32_t patience_milliseconds = 10000;

// Runs `body` on a thread of its own, as the worker and the web server's threads
// write; joined by the destructor.
template <typename Body>
class writer_thread {
 public:
  explicit writer_thread(Body body) : body_(std::move(body)) {
    thread_ = platform::start_thread(&run, this);
    if (thread_ == nullptr) throw std::runtime_error("no thread");
  }
  ~writer_thread() {
    platform::wait_thread(thread_);
    platform::close_thread(thread_);
  }
  writer_thread(const writer_thread&) = delete;
  writer_thread& operator=(const writer_thread&) = delete;

  std::uint32_t thread_id() const { return thread_id_; }

 private:
  static void run(void* self) noexcept {
    auto& writer = *static_cast<writer_thread*>(self);
    writer.thread_id_ = platform::current_thread_id();
    writer.body_();
  }
  Body body_;
  std::uint32_t thread_id_ = 0;
  platform::thread_handle thread_ = nullptr;
};

std::vector<std::string> read_lines(platform::debug_output_listener& listener, std::size_t count) {
  std::vector<std::string> lines;
  std::string line;
  while (lines.size() < count && listener.next_line(line, patience_milliseconds)) lines.push_back(line);
  return lines;
}

// Every case runs with the output thread started, as during a load.
class debug_output : public ::testing::Test {
 protected:
  void SetUp() override { platform::start_debug_output(); }
  void TearDown() override { platform::stop_debug_output(); }
};
using debug_trace_line = debug_output;

TEST_F(debug_output, reaches_a_listener_from_another_thread_in_one_piece) {
  platform::debug_output_listener listener;
  writer_thread writer([] { platform::write_debug_output("[1] from another thread\n"); });
  EXPECT_EQ(read_lines(listener, 1), std::vector<std::string>{"[1] from another thread\n"});
}

TEST_F(debug_output, goes_nowhere_when_nobody_listens) {
  // Returns at once: a writer waits for a listener's buffer only while one exists.
  for (int i = 0; i < 100; ++i) platform::write_debug_output("[1] unheard\n");
}

TEST_F(debug_trace_line, lines_carry_the_writing_threads_id_and_stop_at_a_nul) {
  platform::debug_output_listener listener;
  writer_thread writer([] {
    debug_trace("error: on_dequeue code:2 message:boom");
    debug_trace("");
    debug_trace(std::string("cut\0here", 8));
  });
  const auto lines = read_lines(listener, 3);
  const std::string prefix = "[" + std::to_string(writer.thread_id()) + "] ";
  EXPECT_EQ(lines, (std::vector<std::string>{prefix + "error: on_dequeue code:2 message:boom\n",
                                             prefix + "\n", prefix + "cut"}));
}

TEST_F(debug_trace_line, two_threads_at_once_give_whole_lines_each_in_order) {
  constexpr int per_thread = 50;
  platform::debug_output_listener listener;
  const auto trace_many = [](const char* name) {
    return [name] {
      for (int i = 0; i < per_thread; ++i) debug_trace(std::string(name) + " " + std::to_string(i));
    };
  };
  std::vector<std::string> lines;
  std::uint32_t first_id = 0, second_id = 0;
  {
    writer_thread first(trace_many("first"));
    writer_thread second(trace_many("second"));
    lines = read_lines(listener, 2 * per_thread);
    first_id = first.thread_id();
    second_id = second.thread_id();
  }
  ASSERT_EQ(lines.size(), 2u * per_thread);
  int next_first = 0, next_second = 0;
  for (const std::string& line : lines) {
    const std::string first_line =
        "[" + std::to_string(first_id) + "] first " + std::to_string(next_first) + "\n";
    const std::string second_line =
        "[" + std::to_string(second_id) + "] second " + std::to_string(next_second) + "\n";
    if (line == first_line) {
      ++next_first;
    } else if (line == second_line) {
      ++next_second;
    } else {
      ADD_FAILURE() << "unexpected line " << line;
    }
  }
  EXPECT_EQ(next_first, per_thread);
  EXPECT_EQ(next_second, per_thread);
}

// A listener that takes nothing for a while: the writers go on, the lines that
// find the queue full are dropped, and their count goes out where they were
// lost, so that every line is either received or counted.
TEST_F(debug_output, lines_that_find_the_queue_full_are_counted_in_one_notice) {
  platform::debug_output_listener listener(false);
  const std::size_t written = platform::debug_output_queue_lines + 40;
  for (std::size_t i = 0; i < written; ++i)
    platform::write_debug_output(("[1] line " + std::to_string(i) + "\n").c_str());
  listener.begin_taking();
  std::size_t received = 0, counted = 0, notices = 0;
  std::string line;
  while (received + counted < written && listener.next_line(line, patience_milliseconds)) {
    const auto at = line.find("] ");
    unsigned long lost = 0;
    char rest[64] = {};
    if (at != std::string::npos &&
        std::sscanf(line.c_str() + at + 2, "%lu trace lines dropped%63s", &lost, rest) == 1) {
      ++notices;
      counted += lost;
    } else {
      EXPECT_EQ(line.rfind("[1] line ", 0), 0u) << line;
      ++received;
    }
  }
  EXPECT_EQ(received + counted, written);
  EXPECT_EQ(notices, 1u);
  EXPECT_GE(received, platform::debug_output_queue_lines);
}

}  // namespace
