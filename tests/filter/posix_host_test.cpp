// POSIX hosts: standard error a pipe of the test's own, a relative module path.
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/filter/filter_fixture.h"
#include "tests/support/stderr_pipe.h"

namespace {

using stalled_stderr_test = filter_fixture;
using load_test = filter_fixture;

// Standard error a pipe that nobody reads: every notification still returns,
// and the lines that could not go out are counted on the next one that does.
TEST_F(stalled_stderr_test, a_stalled_standard_error_drops_and_counts_trace_lines) {
  const auto script = dir.write("script.lua",
                                "function on_init() return true end\n"
                                "function on_enqueue(h) error(string.rep('x', 200), 0) end\n"
                                "function on_dequeue(fields, n) end\n"
                                "function on_term() return true end\n");
  dir.write("quillharbor.setting", settings_text(script, 2));
  stderr_pipe pipe;
  module = std::make_unique<loaded_module>(dir.path(), false);
  ASSERT_EQ(module->get_filter_version(&version), TRUE);
  fake_request request;
  constexpr unsigned long sent = 1000;  // about four times what the pipe holds
  for (unsigned long i = 0; i < sent; ++i) notify(request);
  std::string out = pipe.drain();
  notify(request);
  out += pipe.drain();
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  pipe.restore();

  const std::string error_text = "] error: on_enqueue code:2 message:" + std::string(200, 'x');
  unsigned long written = 0, dropped = 0;
  std::vector<std::string> lines;
  std::istringstream all(out);
  for (std::string line; std::getline(all, line);) {
    if (line.rfind("quillharbor event ", 0) == 0) continue;
    lines.push_back(line);
    const auto close = line.find(']');
    ASSERT_NE(close, std::string::npos) << line;
    if (line.compare(close, std::string::npos, error_text) == 0) {
      ++written;
    } else {
      ASSERT_NE(line.find(" trace lines dropped"), std::string::npos) << line;
      dropped += std::stoul(line.substr(close + 2));
    }
  }
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(written + dropped, sent + 1);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines[lines.size() - 2].find(" trace lines dropped"), std::string::npos);
}

// A host that loaded the module by a relative path and then changed directory
// still has it read the settings beside it.
TEST_F(load_test, a_module_loaded_by_a_relative_path_keeps_its_directory) {
  const auto script = dir.write("s.lua", "function on_init() ndebug('here') return true end\n"
                                         "function on_term() return true end");
  dir.write("quillharbor.setting", settings_text(script, 1));
  scratch_directory elsewhere;
  elsewhere.write("quillharbor.setting", "<wrong/>");
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  module = std::make_unique<loaded_module>(".");  // loads ./quillharbor.so
  std::filesystem::current_path(elsewhere.path());
  const BOOL loaded = module->get_filter_version(&version);
  std::filesystem::current_path(before);
  EXPECT_EQ(loaded, TRUE);
  EXPECT_EQ(traces(), std::vector<std::string>{"here"});
  EXPECT_EQ(module->terminate_filter(0), TRUE);
}

}  // namespace
