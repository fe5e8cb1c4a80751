// The trace file on real failing disks, each in a child process of its own: a
// small tmpfs in a private mount namespace (needs root), and a file-size limit.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "filter/diagnostics.h"
#include "filter/trace_file.h"
#include "platform/append_file.h"
#include "tests/filter/trace_lines.h"

namespace fs = std::filesystem;

namespace {

// What a child found, sent back whole through a pipe.
struct child_report {
  trace_tally tally;
  std::uint64_t unwritten = 0;
  std::int64_t largest = 0;
  int notices = 0;
  bool rotated = false;
  bool signal_kept = false;  // SIGXFSZ's disposition, mask and pending state as before
};

constexpr int skipped = 77;

// Runs `body` in a child; its report, or the reason it could not run.
struct child_outcome {
  int status = 0;
  child_report report;
  std::string skip_reason;
};

child_outcome run_in_child(const std::function<const char*(child_report&)>& body) {
  child_outcome outcome;
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return outcome;
  std::fflush(nullptr);  // or the child's exit writes the parent's output again
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    child_report report;
    const char* skip = body(report);
    const ssize_t sent = skip ? write(pipe_ends[1], skip, std::strlen(skip))
                              : write(pipe_ends[1], &report, sizeof report);
    _exit(skip ? skipped : sent == static_cast<ssize_t>(sizeof report) ? 0 : 1);
  }
  close(pipe_ends[1]);
  std::string bytes;
  char buffer[512];
  for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, static_cast<std::size_t>(got));
  close(pipe_ends[0]);
  waitpid(child, &outcome.status, 0);
  if (WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == skipped)
    outcome.skip_reason = bytes;
  else if (bytes.size() == sizeof outcome.report)
    std::memcpy(&outcome.report, bytes.data(), sizeof outcome.report);
  return outcome;
}

void count_notice(void* notices, const char* line) {
  if (std::strstr(line, "lost the trace file")) ++*static_cast<int*>(notices);
}
void count_notice_event(void* notices, unsigned short, unsigned int, const char* text) {
  count_notice(notices, text);
}

// Writes `lines` writer lines to dir/trace.log, calling `midway` halfway, and
// reads back every file there.
void write_and_tally(const fs::path& dir, std::int64_t max_size, int lines,
                     const std::function<void()>& midway, child_report& report) {
  set_outlets(count_notice_event, count_notice, &report.notices);
  const std::string log = (dir / "trace.log").string();
  if (!open_trace_file(log, max_size)) return;
  for (int n = 0; n < lines; ++n) {
    if (n == lines / 2) midway();
    append_trace_file(writer_text(n));
  }
  report.unwritten = settle_trace_losses();
  close_trace_file();
  set_outlets(nullptr, nullptr, nullptr);
  report.rotated = fs::exists(log + ".1");
  for (const std::string& name : {log, log + ".1"}) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    tally_into(report.tally, bytes.str());
    report.largest = std::max(report.largest, static_cast<std::int64_t>(bytes.str().size()));
  }
}

fs::path fresh_directory() {
  std::random_device random;
  const fs::path dir = fs::temp_directory_path() / ("quillharbor-disk-" + std::to_string(random()));
  fs::create_directories(dir);
  return dir;
}

struct tmpfs_case {
  const char* name;
  const char* options;   // the tmpfs's size and inodes
  std::size_t filler;    // bytes taken before the run, given back halfway
  bool loss_said;
};

TEST(trace_file_real_disk, keeps_lines_whole_and_counts_the_rest_on_a_small_tmpfs) {
  const tmpfs_case cases[] = {
      // 16 KiB for the file until the filler goes, then room for it and its .1.
      {"a disk that fills, then has room again", "size=96k", 81920, false},
      {"no inode for the file after the rotation", "size=1m,nr_inodes=2", 0, true},
  };
  // About 63 KB in all: one rotation, so that every line is still in the two files.
  constexpr int lines = 600;
  constexpr std::int64_t max_size = 40000;
  for (const tmpfs_case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = fresh_directory();
    const child_outcome outcome = run_in_child([&](child_report& report) -> const char* {
      if (unshare(CLONE_NEWNS) != 0) return "no private mount namespace (needs root)";
      if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount("tmpfs", dir.c_str(), "tmpfs", 0, c.options) != 0)
        return "cannot mount a tmpfs here";
      const fs::path filler = dir / "filler";
      if (c.filler > 0) std::ofstream(filler, std::ios::binary) << std::string(c.filler, 'f');
      write_and_tally(dir, max_size, lines, [&] { fs::remove(filler); }, report);
      return nullptr;
    });
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    if (!outcome.skip_reason.empty()) GTEST_SKIP() << "not run: " << outcome.skip_reason;
    ASSERT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 0) << outcome.status;
    const child_report& r = outcome.report;
    EXPECT_EQ(r.tally.whole + r.tally.noted_lost + r.unwritten,
              static_cast<std::uint64_t>(lines + r.notices));
    EXPECT_EQ(r.tally.glued, 0u);
    EXPECT_FALSE(r.tally.unfinished);
    EXPECT_LE(r.largest, max_size + 200);
    EXPECT_EQ(r.notices, c.loss_said ? 2 : 0);
    // Room came back halfway: the loss was noted in the file, not only at unload.
    if (c.filler > 0) {
      EXPECT_GT(r.tally.noted_lost, 0u);
      EXPECT_EQ(r.unwritten, 0u);
    }
  }
}

bool xfsz_as_default(sigset_t* pending) {
  struct sigaction action {};
  sigset_t mask;
  return sigaction(SIGXFSZ, nullptr, &action) == 0 && action.sa_handler == SIG_DFL &&
         pthread_sigmask(SIG_BLOCK, nullptr, &mask) == 0 && sigismember(&mask, SIGXFSZ) == 0 &&
         sigpending(pending) == 0 && sigismember(pending, SIGXFSZ) == 0;
}

TEST(trace_file_real_disk, rotates_below_the_file_size_limit_and_is_never_killed_by_it) {
  constexpr rlim_t limit = 20000;
  constexpr int lines = 300;  // one rotation: every line is still in the two files
  const fs::path dir = fresh_directory();
  const child_outcome outcome = run_in_child([&](child_report& report) -> const char* {
    rlimit size{};
    getrlimit(RLIMIT_FSIZE, &size);
    size.rlim_cur = limit;
    if (setrlimit(RLIMIT_FSIZE, &size) != 0) return "cannot set a file-size limit";
    signal(SIGXFSZ, SIG_DFL);
    write_and_tally(dir, 100000, lines, [] {}, report);
    // A write straight at the limit fails and leaves the signal as it was.
    platform::append_file file;
    sigset_t pending;
    report.signal_kept = file.open((dir / "full").string()) &&
                         file.write(std::string(limit, 'f').data(), limit) == limit &&
                         file.write("x\n", 2) == 0 && xfsz_as_default(&pending);
    return nullptr;
  });
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  ASSERT_TRUE(outcome.skip_reason.empty()) << outcome.skip_reason;
  ASSERT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 0)
      << "the child ended by signal " << (WIFSIGNALED(outcome.status) ? WTERMSIG(outcome.status) : 0);
  const child_report& r = outcome.report;
  EXPECT_TRUE(r.rotated);
  EXPECT_LE(r.largest, static_cast<std::int64_t>(limit));
  EXPECT_EQ(r.tally.whole, static_cast<std::size_t>(lines));
  EXPECT_EQ(r.tally.glued + r.tally.cut, 0u);
  EXPECT_TRUE(r.signal_kept);
}

}  // namespace
