#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/replay.h"
#include "host/staged_module.h"

namespace {

TEST(command_line, defaults_read_standard_input) {
  const auto parsed = parse_command_line({});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.inputs, (std::vector<std::string>{"-"}));
  EXPECT_EQ(parsed.options.threads, 0u);
  EXPECT_EQ(parsed.options.rate, 0.0);
  EXPECT_EQ(parsed.options.format, log_format::automatic);
}

TEST(command_line, options_and_inputs_in_order) {
  const auto parsed = parse_command_line({"a.log", "--threads", "8", "--rate=250.5", "--script", "s.lua",
                                          "--pool", "3", "--interval=20", "--format", "ncsa", "-", "--quiet",
                                          "--", "--odd-name.log"});
  ASSERT_EQ(parsed.error, "");
  const auto& o = parsed.options;
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.log", "-", "--odd-name.log"}));
  EXPECT_EQ(o.threads, 8u);
  EXPECT_DOUBLE_EQ(o.rate, 250.5);
  EXPECT_EQ(o.script_path, "s.lua");
  EXPECT_EQ(o.pool, 3);
  EXPECT_EQ(o.interval, 20);
  EXPECT_EQ(o.format, log_format::ncsa);
  EXPECT_TRUE(o.quiet);
}

TEST(command_line, refuses_bad_usage) {
  const std::vector<std::vector<std::string>> cases = {
      {"--threads", "0"},           {"--threads", "many"},     {"--threads"},
      {"--rate", "0"},              {"--rate", "-5"},          {"--rate", "fast"},
      {"--format", "xml"},          {"--bogus"},               {"--pool", "2"},
      {"--interval", "5"},          {"--script", "a", "--pool", "0"},
      {"--script", "a", "--settings", "b"},                    {"--quiet=yes"},
      {"--script", "a", "--interval", "-1"},
  };
  for (const auto& args : cases) {
    const auto parsed = parse_command_line(args);
    EXPECT_NE(parsed.error, "") << ::testing::PrintToString(args);
  }
}

TEST(command_line, help_explains_how_settings_are_found) {
  const auto parsed = parse_command_line({"--help"});
  EXPECT_TRUE(parsed.options.help);
  const std::string text = usage_text();
  for (const char* word : {"--script", "--settings", "--module", "--threads", "--rate", "quillharbor.setting",
                           "Exit status"})
    EXPECT_NE(text.find(word), std::string::npos) << word;
}

TEST(settings_document, names_the_script_with_xml_escapes) {
  const std::string text = settings_document("/tmp/a&b\"<c>.lua", 25, 3);
  EXPECT_NE(text.find("<setting>"), std::string::npos);
  EXPECT_NE(text.find("process_interval=\"25\""), std::string::npos);
  EXPECT_NE(text.find("path=\"/tmp/a&amp;b&quot;&lt;c&gt;.lua\" pool_size=\"3\""), std::string::npos);
}

// The program's answers before any module is loaded.
struct run_result {
  int status;
  std::string out, err;
};

run_result run(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int status = replay_main(args, in, out, err);
  return {status, out.str(), err.str()};
}

TEST(replay_main, help_goes_to_standard_output) {
  const auto r = run({"-h"});
  EXPECT_EQ(r.status, exit_ok);
  EXPECT_NE(r.out.find("usage: quillharbor-replay"), std::string::npos);
}

TEST(replay_main, bad_usage_exits_2_with_a_message) {
  const auto r = run({"--threads", "none"});
  EXPECT_EQ(r.status, exit_usage);
  EXPECT_NE(r.err.find("--threads"), std::string::npos);
}

TEST(replay_main, a_missing_log_file_is_named) {
  const auto r = run({"--module", "/nonexistent/quillharbor.so", "no-such-file.log"});
  EXPECT_EQ(r.status, exit_usage);
  EXPECT_NE(r.err.find("no-such-file.log"), std::string::npos) << r.err;
}

TEST(replay_main, a_missing_module_script_or_settings_is_named) {
  const auto dir = std::filesystem::temp_directory_path() / "quillharbor-cli-test";
  std::filesystem::create_directories(dir);
  const std::string module = (dir / "fake-module.so").string();
  std::ofstream(module) << "not a module";
  const std::string log = (dir / "empty.log").string();
  std::ofstream{log};

  auto r = run({"--module", (dir / "absent.so").string(), log});
  EXPECT_EQ(r.status, exit_usage);
  EXPECT_NE(r.err.find("absent.so"), std::string::npos) << r.err;

  r = run({"--module", module, "--script", (dir / "absent.lua").string(), log});
  EXPECT_EQ(r.status, exit_usage);
  EXPECT_NE(r.err.find("absent.lua"), std::string::npos) << r.err;

  r = run({"--module", module, "--settings", (dir / "absent.setting").string(), log});
  EXPECT_EQ(r.status, exit_usage);
  EXPECT_NE(r.err.find("absent.setting"), std::string::npos) << r.err;

  // Neither given, and no settings file beside the module.
  r = run({"--module", module, log});
  EXPECT_EQ(r.status, exit_usage);
  EXPECT_NE(r.err.find("quillharbor.setting"), std::string::npos) << r.err;

  // A file that is no module: the load fails, and so does the program.
  const std::string script = (dir / "s.lua").string();
  std::ofstream(script) << "function on_init() return true end\n";
  r = run({"--module", module, "--script", script, log});
  EXPECT_EQ(r.status, exit_filter_failed);
  EXPECT_NE(r.err.find("load            FAILED"), std::string::npos) << r.err;
  std::filesystem::remove_all(dir);
}

}  // namespace
