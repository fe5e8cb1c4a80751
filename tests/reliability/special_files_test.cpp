// What lies at the settings or the script path is read only when it is a
// regular file: a FIFO, a device, a directory or the host's standard input
// could hang the load or never end. Each case loads in a child with an alarm,
// so that a load that hangs fails its case instead of holding up the run.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "tests/reliability/reliability_fixture.h"

namespace {

namespace fs = std::filesystem;

const char* const good_script = R"(
function on_init() return true end
function on_enqueue(h) return false end
function on_dequeue(f, n) end
function on_term() return true end
)";

constexpr std::size_t mebibyte = std::size_t{1} << 20;

void write_file(const fs::path& at, const std::string& content) {
  std::ofstream(at, std::ios::binary) << content;
}

// `content`, padded with spaces (allowed after the root element and between
// Lua statements alike) to `size` bytes.
void write_padded(const fs::path& at, const std::string& content, std::size_t size) {
  write_file(at, content + std::string(size - content.size(), ' '));
}

struct special_file {
  const char* name;
  // Puts it at `at`, where a regular file would hold `content`.
  std::function<void(const fs::path& at, const std::string& content)> place;
  unsigned settings_code;  // the load's event identifier; 0: loaded
  unsigned script_code;
};

const special_file files[] = {
    {"regular_file", write_file, 0, 0},
    {"fifo", [](const fs::path& at, const std::string&) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }, 1,
     4},
    {"directory", [](const fs::path& at, const std::string&) { fs::create_directory(at); }, 1, 4},
    {"link_to_a_device", [](const fs::path& at, const std::string&) { fs::create_symlink("/dev/null", at); },
     1, 4},
    {"link_to_standard_input",
     [](const fs::path& at, const std::string&) { fs::create_symlink("/proc/self/fd/0", at); }, 1, 4},
    {"one_mebibyte", [](const fs::path& at, const std::string& c) { write_padded(at, c, mebibyte); }, 0,
     0},
    // Only the settings file has a size limit.
    {"over_one_mebibyte",
     [](const fs::path& at, const std::string& c) { write_padded(at, c, mebibyte + 1); }, 1, 0},
};

class special_file_test : public reliability_fixture,
                          public ::testing::WithParamInterface<std::tuple<special_file, bool>> {
 protected:
  // Loads in a child whose standard input is a pipe that nobody writes to.
  // The child's exit status is the event's identifier, 0 for a load, 99 for
  // anything else; a load still running after 20 s is ended by the alarm.
  unsigned load_in_child() {
    open_module();
    const pid_t child = ::fork();
    if (child == 0) {
      int status = 99;
      int never_written[2];
      if (::pipe(never_written) == 0 && ::dup2(never_written[0], 0) == 0) {
        ::alarm(20);
        const BOOL loaded = module->get_filter_version(&version);
        const auto written = events();
        if (written.size() == 1) status = loaded ? (written[0].type == 0 ? 0 : 99) : written[0].identifier;
      }
      _exit(status);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return 97;
    if (!WIFEXITED(status)) {
      ADD_FAILURE() << "the load did not end: signal " << WTERMSIG(status);
      return 98;
    }
    return static_cast<unsigned>(WEXITSTATUS(status));
  }
};

TEST_P(special_file_test, is_read_only_when_regular) {
  const auto& [file, as_settings] = GetParam();
  const fs::path script = dir.path() / "script.lua";
  const fs::path settings = dir.path() / "quillharbor.setting";
  const std::string settings_content = settings_text(script, 1);
  if (as_settings) {
    write_file(script, good_script);
    file.place(settings, settings_content);
  } else {
    file.place(script, good_script);
    write_file(settings, settings_content);
  }
  EXPECT_EQ(load_in_child(), as_settings ? file.settings_code : file.script_code);
}

INSTANTIATE_TEST_SUITE_P(
    kinds, special_file_test, ::testing::Combine(::testing::ValuesIn(files), ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<1>(info.param) ? "settings_" : "script_") + std::get<0>(info.param).name;
    });

}  // namespace
