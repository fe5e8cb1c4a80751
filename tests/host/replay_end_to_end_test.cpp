// The replay with the real module and the example scripts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "host/replay.h"
#include "host/sample_log.h"
#include "platform/temp_directory.h"

namespace fs = std::filesystem;

namespace {

const std::string examples = QUILLHARBOR_EXAMPLES_DIR;

// Each test runs in a directory of its own, where the scripts write their files.
class replay_end_to_end : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    dir_ = platform::make_temp_directory("quillharbor-e2e-");
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }

  std::string write(const std::string& name, const std::string& text) {
    const std::string path = (fs::path(dir_) / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // The examples' files carry the process identifier: requests.4242.jsonl.
  static std::vector<std::string> lines_of(const std::string& name) {
    const fs::path plain(name);
    fs::path path = plain;
    for (const auto& entry : fs::directory_iterator("."))
      if (entry.path().extension() == plain.extension() &&
          entry.path().stem().string().rfind(plain.stem().string() + ".", 0) == 0)
        path = entry.path();
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  int replay(std::vector<std::string> args, const std::string& stdin_text = "") {
    args.insert(args.begin(), {"--module", QUILLHARBOR_MODULE_PATH});
    const command_line parsed = parse_command_line(args);
    EXPECT_EQ(parsed.error, "");
    std::istringstream in(stdin_text);
    std::ostringstream err;
    const int status = run_replay(parsed.options, in, err, &summary_);
    err_ = err.str();
    return status;
  }

  fs::path previous_;
  std::string dir_;
  replay_summary summary_;
  std::string err_;
};

const char* const w3c_log =
    "#Software: Microsoft Internet Information Services 10.0\n"
    "#Fields: date time cs-method cs-uri-stem cs-uri-query c-ip cs(User-Agent) cs(Referer) sc-status "
    "sc-win32-status sc-bytes cs-bytes time-taken\n"
    "2026-12-07 10:00:00 GET /index.html - 192.0.2.1 Mozilla/5.0+(X11) - 200 0 5120 400 15\n"
    "2026-12-07 10:00:01 GET /caf\xC3\xA9 q=a+b 192.0.2.2 curl/8 https://x/?q=\"a\" 404 2 1200 350 3\n"
    "this line is not a request\n"
    "#Fields: cs-method cs-uri-stem sc-status time-taken\n"
    "POST /api/export 500 2500\n"
    "GET /caf\xE9 200 1500\n"
    "GET /tab\x01 200 1\n";

TEST_F(replay_end_to_end, jsonl_writes_one_escaped_object_per_request_in_order) {
  const std::string log = write("u_ex.log", w3c_log);
  ASSERT_EQ(replay({"--script", examples + "/jsonl/jsonl.lua", "--threads", "1", "--pool", "1", log}), exit_ok)
      << err_;
  EXPECT_EQ(summary_.requests, 5u);
  EXPECT_EQ(summary_.skipped, 1u);
  EXPECT_EQ(summary_.notifications, 5u);
  EXPECT_TRUE(summary_.load_ok);
  EXPECT_TRUE(summary_.unload_ok);
  EXPECT_EQ(summary_.events, 1u);
  EXPECT_NE(err_.find("u_ex.log:5: skipped"), std::string::npos) << err_;

  const auto lines = lines_of("requests.jsonl");
  ASSERT_EQ(lines.size(), 5u);
  const std::vector<std::vector<std::string>> expected = {
      {"{\"n\":0,", "\"status\":200,", "\"bytes_sent\":5120,", "\"agent\":\"Mozilla/5.0 (X11)\"",
       "\"referer\":\"\"", "\"logged\":\"20"},
      {"\"n\":1,", "\"status\":404,", "\"win32_status\":2,", "\"url\":\"/caf\xC3\xA9\"", "\"query\":\"q=a+b\"",
       "\"referer\":\"https://x/?q=\\\"a\\\"\""},
      {"\"n\":2,", "\"status\":500,", "\"time_ms\":2500,", "\"method\":\"POST\""},
      {"\"n\":3,", "\"url\":\"/caf\xC3\xA9\""},
      {"\"n\":4,", "\"url\":\"/tab\\u0001\""},
  };
  for (std::size_t i = 0; i < expected.size(); ++i)
    for (const auto& piece : expected[i]) EXPECT_NE(lines[i].find(piece), std::string::npos) << lines[i] << "\n  " << piece;
}

TEST_F(replay_end_to_end, jsonl_from_many_threads_keeps_every_request_once) {
  std::ostringstream sample;
  write_sample_log(sample, {3000, 7});
  const std::string log = write("sample.log", sample.str());
  ASSERT_EQ(replay({"--script", examples + "/jsonl/jsonl.lua", "--threads", "4", "--pool", "2", log}), exit_ok)
      << err_;
  EXPECT_EQ(summary_.notifications, 3000u);
  const auto lines = lines_of("requests.jsonl");
  ASSERT_EQ(lines.size(), 3000u);
  std::set<std::string> numbers;
  for (const auto& line : lines) numbers.insert(line.substr(0, line.find(',')));
  EXPECT_EQ(numbers.size(), 3000u);
}

TEST_F(replay_end_to_end, ncsa_log_reaches_the_script) {
  const std::string log = write(
      "access.log",
      "192.0.2.7 - alice [07/Dec/2026:10:00:00 +0000] \"GET /a?x=1 HTTP/1.1\" 200 10 \"-\" \"say \\\"hi\\\"\"\n"
      "192.0.2.8 - - [07/Dec/2026:10:00:01 +0000] \"HEAD / HTTP/1.0\" 304 -\n");
  ASSERT_EQ(replay({"--script", examples + "/jsonl/jsonl.lua", "--threads", "1", log}), exit_ok) << err_;
  const auto lines = lines_of("requests.jsonl");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("\"agent\":\"say \\\"hi\\\"\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"user\":\"alice\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"query\":\"x=1\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\"status\":304"), std::string::npos) << lines[1];
}

TEST_F(replay_end_to_end, summary_reports_at_unload) {
  std::ostringstream sample;
  write_sample_log(sample, {2000, 3});
  const std::string log = write("sample.log", sample.str());
  ::testing::internal::CaptureStdout();
  const int status = replay({"--script", examples + "/summary/summary.lua", "--threads", "2", log});
  const std::string report = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(status, exit_ok) << err_;
  EXPECT_NE(report.find("quillharbor summary: 2000 requests"), std::string::npos) << report;
  EXPECT_NE(report.find("requests per status"), std::string::npos) << report;
  EXPECT_NE(report.find("  200 "), std::string::npos) << report;
  EXPECT_NE(report.find("slowest URLs"), std::string::npos) << report;
  EXPECT_NE(report.find("/api/export"), std::string::npos) << report;
}

// Blocks of lines change nothing a user sees: the script's report and every
// count are those of one request thread.
TEST_F(replay_end_to_end, the_sample_replays_alike_with_any_thread_count) {
  std::ostringstream sample;
  write_sample_log(sample, {20000, 1});
  const std::string log = write("sample.log", sample.str());
  std::vector<std::string> reports;
  std::vector<replay_summary> summaries;
  for (const char* threads : {"1", "4"}) {
    ::testing::internal::CaptureStdout();
    const int status = replay({"--script", examples + "/summary/summary.lua", "--threads", threads, log});
    reports.push_back(::testing::internal::GetCapturedStdout());
    ASSERT_EQ(status, exit_ok) << err_;
    summaries.push_back(summary_);
  }
  EXPECT_EQ(reports[0], reports[1]);
  for (const auto& s : summaries) {
    EXPECT_EQ(s.lines_read, 20016u);
    EXPECT_EQ(s.bytes_read, sample.str().size());
    EXPECT_EQ(s.requests, 20000u);
    EXPECT_EQ(s.notifications, 20000u);
    EXPECT_EQ(s.directives, 16u);
    EXPECT_EQ(s.blank + s.skipped + s.trace_lines, 0u);
  }
}

TEST_F(replay_end_to_end, slow_requests_keeps_only_slow_ones_from_standard_input) {
  ASSERT_EQ(replay({"--script", examples + "/slow_requests/slow_requests.lua", "-"}, w3c_log), exit_ok) << err_;
  const auto lines = lines_of("slow_requests.log");
  ASSERT_EQ(lines.size(), 2u);
  std::set<std::string> found;
  for (const auto& line : lines) {
    if (line.find("2500 ms  500  POST /api/export") != std::string::npos) found.insert("export");
    if (line.find("1500 ms  200  GET /caf") != std::string::npos) found.insert("cafe");
  }
  EXPECT_EQ(found.size(), 2u) << lines[0] << "\n" << lines[1];
  EXPECT_EQ(summary_.trace_lines, 1u);
  EXPECT_NE(err_.find("2 requests over 1000 ms"), std::string::npos) << err_;
}

struct failing_script {
  const char* name;
  const char* text;
  bool load_ok;
  bool unload_ok;
  std::string in_output;
};

TEST_F(replay_end_to_end, script_failures_set_the_exit_status) {
  const std::vector<failing_script> cases = {
      {"syntax", "function on_init( return true end", false, false, "event error 4"},
      {"on_init false", "function on_init() return false end", false, false, "event error 7"},
      {"on_term false",
       "function on_init() return true end\nfunction on_enqueue() return false end\n"
       "function on_term() return false end",
       true, false, "FAILED (TerminateFilter returned FALSE)"},
  };
  const std::string log = write("u_ex.log", w3c_log);
  for (const auto& c : cases) {
    const std::string script = write("failing.lua", c.text);
    const int status = replay({"--script", script, "--threads", "2", log});
    EXPECT_EQ(summary_.load_ok, c.load_ok) << c.name;
    EXPECT_EQ(summary_.unload_ok, c.unload_ok) << c.name;
    EXPECT_EQ(status, c.load_ok && c.unload_ok ? exit_ok : exit_filter_failed) << c.name;
    EXPECT_NE(err_.find(c.in_output), std::string::npos) << c.name << "\n" << err_;
    if (!c.load_ok) {
      EXPECT_FALSE(summary_.unload_called) << c.name;
      EXPECT_EQ(summary_.notifications, 0u) << c.name;
    }
  }
}

TEST_F(replay_end_to_end, on_enqueue_errors_are_counted_as_trace_lines) {
  const std::string log = write("u_ex.log", w3c_log);
  const std::string script = write("failing.lua",
                                   "function on_init() return true end\n"
                                   "function on_enqueue() error('boom') end\n"
                                   "function on_term() return true end\n");
  ASSERT_EQ(replay({"--script", script, "--quiet", log}), exit_ok) << err_;
  EXPECT_EQ(summary_.trace_lines, 5u);
  EXPECT_EQ(err_.find("boom"), std::string::npos) << "--quiet prints no trace line";
}

TEST_F(replay_end_to_end, a_given_settings_file_is_used) {
  const std::string log = write("u_ex.log", w3c_log);
  const std::string settings = write(
      "my.setting", "<setting><queue process_interval=\"1\"/><script path=\"" + examples +
                        "/slow_requests/slow_requests.lua\" pool_size=\"2\"/></setting>");
  ASSERT_EQ(replay({"--settings", settings, log}), exit_ok) << err_;
  EXPECT_EQ(lines_of("slow_requests.log").size(), 2u);
}

std::string gzip(const std::string& text) {
  const std::string path = (fs::temp_directory_path() / "quillharbor-e2e.gz").string();
  gzFile file = gzopen(path.c_str(), "wb");
  gzwrite(file, text.data(), static_cast<unsigned>(text.size()));
  gzclose(file);
  std::string bytes;
  {  // closed before the removal, which Windows refuses for an open file
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  fs::remove(path);
  return bytes;
}

struct input_case {
  const char* name;
  std::string text;
  int status;
  std::uint64_t notifications;
  std::string in_output;
};

TEST_F(replay_end_to_end, every_input_is_replayed_or_reported) {
  const std::string log = "#Fields: cs-uri-stem sc-status\n/a 200\n/b 404\nbroken\n";
  const std::string compressed = gzip(log);
  const std::vector<input_case> cases = {
      {"gzip file", compressed, exit_ok, 2, "x.log: 1 skipped of 3 request lines\n      line 4: 1 values for 2 fields"},
      {"gzip cut short", compressed.substr(0, compressed.size() - 12), exit_input_failed, 2,
       "x.log: ended early: gzip data damaged"},
      {"gzip twice", gzip(compressed), exit_input_failed, 0, "NOTHING REPLAYED (gzip data?"},
      {"two gzip members", compressed + compressed, exit_ok, 4, "x.log: 2 skipped of 6 request lines"},
      {"gzip, then other bytes", compressed + "#Fields: x\n", exit_input_failed, 2,
       "x.log: ended early: not gzip data after byte " + std::to_string(compressed.size())},
      {"W3C without #Fields", "/a 200 1\n/b 200 2\n", exit_input_failed, 0,
       "NOTHING REPLAYED (W3C without #Fields?"},
      {"a firewall log", "#Fields: date time action src-ip\n2026-12-07 10:00:00 DROP 192.0.2.1\n",
       exit_input_failed, 0, "line 2: not a web server log"},
      {"only directives", "#Software: x\n", exit_ok, 0, "lines skipped   0 malformed"},
  };
  for (const auto& c : cases) {
    const std::string path = write("x.log", c.text);
    const int status = replay({"--script", examples + "/jsonl/jsonl.lua", "--quiet", path});
    EXPECT_EQ(status, c.status) << c.name << "\n" << err_;
    EXPECT_EQ(summary_.notifications, c.notifications) << c.name;
    EXPECT_NE(err_.find(c.in_output), std::string::npos) << c.name << "\n" << err_;
  }
}

}  // namespace
