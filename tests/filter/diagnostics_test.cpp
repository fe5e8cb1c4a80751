#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "filter/diagnostics.h"
#include "platform/thread_id.h"

namespace {

// Collects what the platform outlets write to standard error meanwhile.
class stderr_capture {
 public:
  stderr_capture() : file_(std::tmpfile()), saved_(::dup(STDERR_FILENO)) {
    ::dup2(::fileno(file_), STDERR_FILENO);
  }
  ~stderr_capture() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    std::fclose(file_);
  }
  std::string text() {
    std::string all;
    std::rewind(file_);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) all.append(buffer, n);
    return all;
  }

 private:
  std::FILE* file_;
  int saved_;
};

std::string own_prefix() { return "[" + std::to_string(platform::current_thread_id()) + "] "; }

TEST(debug_trace, writes_the_thread_id_the_text_and_a_line_feed) {
  stderr_capture capture;
  debug_trace("hello");
  debug_trace("");
  debug_trace(std::string("a\0b", 3));
  EXPECT_EQ(capture.text(), own_prefix() + "hello\n" + own_prefix() + "\n" + own_prefix() + "a");
}

TEST(report_event, writes_one_line_per_entry_by_type) {
  stderr_capture capture;
  report_event(event_success, 1, "quillharbor loaded successfully");
  report_event(event_error, 1, "quillharbor failed to load (xml syntax)");
  EXPECT_EQ(capture.text(),
            "quillharbor event 1 success: quillharbor loaded successfully\n"
            "quillharbor event 1 error: quillharbor failed to load (xml syntax)\n");
}

struct collected {
  std::vector<std::string> lines;
  std::vector<std::string> events;
};

TEST(outlets, a_host_receives_whole_lines_from_every_thread) {
  collected got;
  std::mutex mutex;
  struct context_type {
    collected* got;
    std::mutex* mutex;
  } context{&got, &mutex};
  set_outlets(
      [](void* c, unsigned short type, unsigned int id, const char* text) {
        auto* ctx = static_cast<context_type*>(c);
        std::lock_guard<std::mutex> lock(*ctx->mutex);
        ctx->got->events.push_back(std::to_string(type) + "/" + std::to_string(id) + "/" + text);
      },
      [](void* c, const char* line) {
        auto* ctx = static_cast<context_type*>(c);
        std::lock_guard<std::mutex> lock(*ctx->mutex);
        ctx->got->lines.push_back(line);
      },
      &context);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 100; ++i) debug_trace("line from a thread");
    });
  for (auto& thread : threads) thread.join();
  report_event(event_error, 8, "text");
  set_outlets(nullptr, nullptr, nullptr);

  ASSERT_EQ(got.lines.size(), 400u);
  for (const std::string& line : got.lines) {
    EXPECT_EQ(line.front(), '[');
    EXPECT_NE(line.find("] line from a thread\n"), std::string::npos);
  }
  EXPECT_EQ(got.events, std::vector<std::string>{"1/8/text"});
}

}  // namespace
