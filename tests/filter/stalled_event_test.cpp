// POSIX: events go to standard error the trace outlet's way, never waiting.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>

#include "tests/filter/filter_fixture.h"
#include "tests/support/stderr_pipe.h"

namespace {

using stalled_stderr_test = filter_fixture;

// Fills standard error's pipe to the last byte without blocking.
void fill_stderr() {
  const int flags = ::fcntl(STDERR_FILENO, F_GETFL);
  ::fcntl(STDERR_FILENO, F_SETFL, flags | O_NONBLOCK);
  const std::string page(4096, 'f');
  while (::write(STDERR_FILENO, page.data(), page.size()) > 0) {
  }
  while (::write(STDERR_FILENO, "f", 1) > 0) {
  }
  ::fcntl(STDERR_FILENO, F_SETFL, flags);
}

// A full pipe that nobody reads holds no load; the event it could not take is
// counted and said before the next one.
TEST_F(stalled_stderr_test, a_load_returns_while_standard_error_is_full) {
  const auto script = dir.write("script.lua", "function on_init() return true end\n"
                                              "function on_term() return true end\n");
  dir.write("quillharbor.setting", settings_text(script, 1));
  stderr_pipe pipe;
  module = std::make_unique<loaded_module>(dir.path(), false);
  fill_stderr();
  auto loaded = std::async(std::launch::async, [&] { return module->get_filter_version(&version); });
  if (loaded.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "GetFilterVersion waits for standard error";
    while (loaded.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) pipe.drain();
  }
  EXPECT_EQ(loaded.get(), TRUE);
  pipe.drain();
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  EXPECT_EQ(module->get_filter_version(&version), TRUE);
  const std::string out = pipe.drain();
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  pipe.restore();

  const auto notice = out.find("] 1 trace lines dropped\n");
  const auto event = out.find("quillharbor event 1 success: quillharbor loaded successfully\n");
  ASSERT_NE(notice, std::string::npos) << out;
  EXPECT_NE(event, std::string::npos) << out;
  EXPECT_LT(notice, event);
}

}  // namespace
