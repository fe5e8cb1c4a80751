#include "filter/trace_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

}  // namespace
