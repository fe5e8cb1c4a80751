#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filter/diagnostics.h"
#include "filter/text_cut.h"
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

TEST(cut_text, keeps_short_texts_and_cuts_long_ones_between_characters) {
  struct cut_case {
    std::string text;
    std::size_t limit;
    std::string cut;
  };
  const std::string euro = "\xE2\x82\xAC";  // three bytes of UTF-8
  const cut_case cases[] = {
      {"", 4, ""},
      {"abcd", 4, "abcd"},
      {"abcde", 4, "abcd... [1 more bytes]"},
      {"ab" + euro, 4, "ab... [3 more bytes]"},    // not split inside the character
      {"a" + euro + "z", 4, "a" + euro + "... [1 more bytes]"},
      {std::string(10000, 'y'), text_limit, std::string(4096, 'y') + "... [5904 more bytes]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cut_text(c.text, c.limit), c.cut) << c.text.size();
    std::ostringstream written;
    write_cut(written, c.text, c.limit);
    EXPECT_EQ(written.str(), c.cut);
  }
}

TEST(debug_trace, and_report_event_cut_what_the_outlets_receive) {
  stderr_capture captured;
  const std::string huge(3 * outlet_limit, 'z');
  debug_trace(huge);
  report_event(event_error, 8, huge.c_str());
  const std::string cut = std::string(outlet_limit, 'z') + "... [16384 more bytes]";
  const std::string all = captured.text();
  EXPECT_NE(all.find(own_prefix() + cut + "\n"), std::string::npos);
  EXPECT_NE(all.find("error: " + cut + "\n"), std::string::npos);
  EXPECT_LT(all.size(), 3 * outlet_limit);
}

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
