#include "filter/trace_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include <cctype>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filter/diagnostics.h"
#include "tests/filter/trace_lines.h"

namespace fs = std::filesystem;

namespace {

TEST(trace_file, stamps_utc_with_milliseconds) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {-1, "1969-12-31T23:59:59.999Z"},
      {951868799999, "2000-02-29T23:59:59.999Z"},
      {1796760062345, "2026-12-08T20:01:02.345Z"},
      {4102444800000, "2100-01-01T00:00:00.000Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(utc_stamp(c.first), c.second) << c.first;
}

class trace_file_test : public ::testing::Test {
 protected:
  trace_file_test() {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("quillharbor-trace-" + std::to_string(random()));
    fs::create_directories(dir_);
  }
  ~trace_file_test() override {
    close_trace_file();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  static std::vector<std::string> lines_of(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  fs::path dir_;
};

// "<stamp> [<thread>] writer <0-7> line <n> <20 to 69 x>" and nothing else.
// (std::regex trips GCC 12's uninitialised-use warning under the sanitizers.)
bool whole_writer_line(const std::string& line) {
  static const char stamp[] = "dddd-dd-ddTdd:dd:dd.dddZ [";
  const std::size_t stamp_length = sizeof stamp - 1;
  if (line.size() < stamp_length) return false;
  for (std::size_t i = 0; i < stamp_length; ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (stamp[i] == 'd' ? !digit : line[i] != stamp[i]) return false;
  }
  unsigned thread = 0, writer = 0, number = 0;
  int used = 0;
  if (std::sscanf(line.c_str() + stamp_length, "%u] writer %u line %u %n", &thread, &writer, &number,
                  &used) != 3 ||
      used == 0 || writer > 7)
    return false;
  const std::string xs = line.substr(stamp_length + static_cast<std::size_t>(used));
  return xs.size() >= 20 && xs.size() <= 69 && xs.find_first_not_of('x') == std::string::npos;
}

TEST_F(trace_file_test, rotates_and_keeps_lines_whole_under_eight_threads) {
  const std::string log = path("trace.log");
  constexpr std::int64_t max_size = 16384;
  ASSERT_TRUE(open_trace_file(log, max_size));
  constexpr int threads = 8;
  constexpr int lines_each = 400;
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < lines_each; ++i)
        append_trace_file("writer " + std::to_string(t) + " line " + std::to_string(i) + " " +
                          std::string(static_cast<std::size_t>(20 + i % 50), 'x'));
    });
  }
  for (std::thread& writer : writers) writer.join();
  close_trace_file();

  ASSERT_TRUE(fs::exists(log + ".1"));
  // The renamed file ended with the line that reached the size.
  EXPECT_GE(static_cast<std::int64_t>(fs::file_size(log + ".1")), max_size);
  EXPECT_LT(static_cast<std::int64_t>(fs::file_size(log + ".1")), max_size + 200);
  EXPECT_LT(static_cast<std::int64_t>(fs::file_size(log)), max_size);
  for (const std::string& file : {log, log + ".1"}) {
    for (const std::string& line : lines_of(file)) EXPECT_TRUE(whole_writer_line(line)) << line;
  }
}

TEST_F(trace_file_test, writes_one_line_per_text_and_event) {
  const std::string log = path("trace.log");
  ASSERT_TRUE(open_trace_file(log, 0));
  append_trace_file(std::string("two\r\nlines\0cut", 14));
  append_trace_event(true, 1, "quillharbor loaded successfully");
  append_trace_event(false, 20, "refused");
  close_trace_file();
  append_trace_file("after close: nowhere");

  const std::vector<std::string> lines = lines_of(log);
  ASSERT_EQ(lines.size(), 3u);
  const std::string texts[] = {"two  lines", "event 1 success: quillharbor loaded successfully",
                               "event 20 error: refused"};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto start = lines[i].find("] ");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(lines[i].substr(start + 2), texts[i]);
  }
}

TEST_F(trace_file_test, refuses_a_path_it_cannot_open) {
  EXPECT_FALSE(open_trace_file(path("missing/trace.log"), 0));
  EXPECT_FALSE(open_trace_file(dir_.string(), 0));  // a directory
  append_trace_file("goes nowhere");                // and fails nothing
}

// One way for the disk to fail, and what the trace file must make of it.
struct disk_case {
  const char* name;
  int cut_write;           // this write stops halfway (0: none)
  int failing_from, failing_to;  // these writes write nothing: the disk is full
  int failing_renames;     // the first renames are refused
  int failing_opens;       // the opens after load's that fail: no inode left
  std::int64_t size_limit;
  std::int64_t max_size;
  std::int64_t retry_after;
  bool loss_said;          // the file is gone, once, on both outlets
  int most_renames;        // -1: any
  std::size_t cut_lines;
};

// Files in memory; a renamed file stays open under its new name.
class fake_disk final : public platform::append_target {
 public:
  explicit fake_disk(const disk_case& c) : c_(c) {}

  bool open(const std::string& path) noexcept override {
    close();
    if (opens_++ > 0 && opens_ - 1 <= c_.failing_opens) return false;
    std::shared_ptr<std::string>& file = files_[path];
    if (!file) every_.push_back(file = std::make_shared<std::string>());
    open_ = file;
    return true;
  }
  bool is_open() const noexcept override { return open_ != nullptr; }
  std::size_t write(const char* data, std::size_t size) noexcept override {
    ++writes_;
    if (writes_ >= c_.failing_from && writes_ <= c_.failing_to) return 0;
    if (static_cast<std::int64_t>(open_->size() + size) > c_.size_limit) return 0;
    if (writes_ == c_.cut_write) size /= 2;
    open_->append(data, size);
    return size;
  }
  std::int64_t size() const noexcept override { return static_cast<std::int64_t>(open_->size()); }
  void close() noexcept override { open_.reset(); }
  bool replace(const std::string& from, const std::string& to) noexcept override {
    if (++renames_ <= c_.failing_renames) return false;
    files_[to] = files_[from];
    files_.erase(from);
    return true;
  }
  std::int64_t size_limit() const noexcept override { return c_.size_limit; }

  const disk_case& c_;
  int opens_ = 0, writes_ = 0, renames_ = 0;
  std::map<std::string, std::shared_ptr<std::string>> files_;
  std::shared_ptr<std::string> open_;
  std::vector<std::shared_ptr<std::string>> every_;  // also those replaced
};

void count_loss_event(void* notices, unsigned short type, unsigned int identifier, const char* text) {
  if (type == event_error && identifier == event_trace_file && std::strstr(text, "lost the trace file"))
    ++*static_cast<int*>(notices);
}
void count_loss_line(void* notices, const char* line) {
  if (std::strstr(line, "lost the trace file")) ++*static_cast<int*>(notices);
}

TEST(trace_file_failing_disk, counts_every_line_lost_and_keeps_lines_whole) {
  constexpr std::int64_t none = INT64_MAX;
  constexpr std::int64_t at_once = 0, seldom = 600000;
  const disk_case cases[] = {
      {"full disk, then room again", 5, 6, 40, 0, 0, none, 0, at_once, false, 0, 1},
      {"full disk across the rotation size", 18, 19, 60, 0, 0, none, 2000, at_once, false, -1, 1},
      {"rename refused for good", 0, 0, 0, 1000, 0, none, 2000, seldom, false, 1, 0},
      {"rename refused, then allowed", 0, 0, 0, 3, 0, none, 2000, at_once, false, -1, 0},
      {"no inode after the rotation, for good", 0, 0, 0, 0, 1000, none, 2000, seldom, true, 1, 0},
      {"no inode after the rotation, for a while", 0, 0, 0, 0, 5, none, 2000, at_once, true, -1, 0},
      {"file-size limit below max_size", 0, 0, 0, 0, 0, 1500, 100000, at_once, false, -1, 0},
      {"file-size limit below one line", 0, 0, 0, 0, 0, 50, 0, seldom, false, 1, 0},
  };
  constexpr int lines = 200;
  for (const disk_case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_disk disk(c);
    int notices = 0;
    set_outlets(count_loss_event, count_loss_line, &notices);
    ASSERT_TRUE(open_trace_file_on(disk, "trace.log", c.max_size, c.retry_after));
    for (int n = 0; n < lines; ++n) append_trace_file(writer_text(n));
    const std::uint64_t unwritten = settle_trace_losses();
    close_trace_file();
    set_outlets(nullptr, nullptr, nullptr);

    trace_tally tally;
    std::int64_t largest = 0;
    for (const auto& file : disk.every_) {
      tally_into(tally, *file);
      largest = std::max(largest, static_cast<std::int64_t>(file->size()));
    }
    // The notices are trace lines too, and go the same way.
    EXPECT_EQ(tally.whole + tally.noted_lost + unwritten, static_cast<std::uint64_t>(lines + notices));
    EXPECT_EQ(tally.glued, 0u);
    EXPECT_FALSE(tally.unfinished);
    EXPECT_EQ(tally.cut, c.cut_lines);
    EXPECT_EQ(notices, c.loss_said ? 2 : 0);
    if (c.max_size > 0) {
      EXPECT_LE(largest, c.max_size + 200);
    }
    EXPECT_LE(largest, c.size_limit);
    if (c.most_renames >= 0) {
      EXPECT_LE(disk.renames_, c.most_renames);
    }
  }
}

}  // namespace
