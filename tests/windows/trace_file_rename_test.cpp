// The trace file's rotation while another handle, as a log viewer's, holds the
// file or its ".1" open without FILE_SHARE_DELETE: the rename is refused.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "filter/trace_file.h"
#include "platform/append_file.h"
#include "tests/filter/trace_lines.h"

namespace fs = std::filesystem;

namespace {

std::string bytes_of(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct held_case {
  const char* name;
  const char* held;  // the file the viewer holds open
};

TEST(trace_file_windows, rotation_refused_by_a_viewer_keeps_the_size_and_counts_the_lines) {
  const held_case cases[] = {
      {"the file itself", "trace.log"},
      {"the older .1", "trace.log.1"},
  };
  constexpr std::int64_t max_size = 4000;
  for (const held_case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir =
        fs::temp_directory_path() / ("quillharbor-rename-" + std::to_string(std::random_device()()));
    fs::create_directories(dir);
    const fs::path log = dir / "trace.log";
    std::ofstream(dir / "trace.log.1") << "older\n";

    platform::append_file file;
    // Retried at every line, so that the rotation follows as soon as the viewer lets go.
    ASSERT_TRUE(open_trace_file_on(file, log.string(), max_size, 0));
    HANDLE viewer = CreateFileW((dir / c.held).wstring().c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    int n = 0;
    for (; n < 200; ++n) append_trace_file(writer_text(n));
    const std::int64_t held_size = static_cast<std::int64_t>(fs::file_size(log));
    CloseHandle(viewer);
    for (; n < 210; ++n) append_trace_file(writer_text(n));
    const std::uint64_t unwritten = settle_trace_losses();
    close_trace_file();

    EXPECT_LE(held_size, max_size + 200);  // not one line per refused rename
    trace_tally tally;
    tally_into(tally, bytes_of(log));
    tally_into(tally, bytes_of(dir / "trace.log.1"));
    EXPECT_EQ(tally.whole + tally.noted_lost + unwritten, 210u);
    EXPECT_GT(tally.noted_lost, 0u);  // written once the rotation went through
    EXPECT_EQ(tally.glued + tally.cut, 0u);
    EXPECT_EQ(bytes_of(dir / "trace.log.1").rfind("older", 0), std::string::npos);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
}

}  // namespace
