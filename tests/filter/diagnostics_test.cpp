#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filter/diagnostics.h"
#include "filter/text_cut.h"
#include "platform/event_log.h"
#include "platform/thread_id.h"
#include "tests/support/stderr_pipe.h"

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

// Many threads' lines longer than one atomic pipe write (and within the
// outlets' cut), read as they come: each line comes out whole or is counted as
// dropped, never cut or mixed.
TEST(debug_trace, long_lines_from_many_threads_stay_whole) {
  constexpr int threads = 6, lines_each = 6;
  constexpr std::size_t length = 8000;
  static_assert(length > PIPE_BUF && length < outlet_limit);
  stderr_pipe pipe;
  std::string out;
  std::thread reader([&] { out = pipe.read_to_end(); });
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < lines_each; ++i) debug_trace(std::string(length, static_cast<char>('a' + t)));
    });
  for (auto& writer : writers) writer.join();
  // Once the reader has emptied the pipe, the last line carries the count of
  // everything dropped.
  for (int queued = 1; ::ioctl(STDERR_FILENO, FIONREAD, &queued) == 0 && queued > 0;)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  debug_trace("last");
  pipe.restore();
  reader.join();

  unsigned long written = 0, dropped = 0;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t text = line.find("] ") + 2;
    if (line.find(" trace lines dropped", text) != std::string::npos) {
      dropped += std::stoul(line.substr(text));
    } else if (line.find("] last") != std::string::npos) {
      continue;
    } else {
      // std::regex recurses per character: far too deep for these lines.
      ASSERT_EQ(line.size(), text + length) << "a cut line";
      ASSERT_EQ(line.find_first_not_of(line[text], text), std::string::npos) << "a mixed line";
      ++written;
    }
  }
  EXPECT_EQ(written + dropped, static_cast<unsigned long>(threads * lines_each));
}

// The module's own datagram to a syslog socket, and the host's openlog state
// left as the host set it.
TEST(report_event, sends_its_own_syslog_datagram_and_leaves_the_host_ident) {
  const auto socket_path = std::filesystem::temp_directory_path() /
                           ("quillharbor-syslog-" + std::to_string(::getpid()));
  const int listener = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string path = socket_path.string();
  platform::set_event_log_socket(path.c_str());

  ::openlog("webhost", LOG_PERROR, LOG_DAEMON);
  std::string host_line;
  {
    stderr_capture capture;
    report_event(event_error, 8, "text");
    ::syslog(LOG_INFO, "host line");
    host_line = capture.text();
  }
  ::closelog();
  char datagram[512] = {};
  const ssize_t size = ::recv(listener, datagram, sizeof datagram - 1, MSG_DONTWAIT);

  // A missing socket costs the entry only.
  const std::string missing = path + ".none";
  platform::set_event_log_socket(missing.c_str());
  report_event(event_success, 1, "unheard");
  platform::set_event_log_socket(nullptr);
  ::close(listener);
  std::filesystem::remove(socket_path);

  ASSERT_GT(size, 0);
  // "<11>Mmm dd hh:mm:ss quillharbor[pid]: ...": user facility, error severity.
  const std::string got(datagram);
  EXPECT_EQ(got.substr(0, 4), "<11>");
  EXPECT_EQ(got.substr(7, 1) + got.substr(10, 1) + got.substr(13, 1) + got.substr(16, 1), "  ::");
  EXPECT_EQ(got.substr(19),
            " quillharbor[" + std::to_string(::getpid()) + "]: event 8 error: text");
  EXPECT_NE(host_line.find("quillharbor event 8 error: text\n"), std::string::npos);
  EXPECT_NE(host_line.find("webhost: host line\n"), std::string::npos) << host_line;
}

}  // namespace
