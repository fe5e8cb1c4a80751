// Everything the replay prints besides the script's own output.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

// Lines and the progress bar on one stream. Safe from any thread: the
// module's outlets call it from its worker and request threads.
class replay_console {
 public:
  replay_console(std::ostream& out, bool progress_bar) : out_(out), progress_bar_(progress_bar) {}

  // One whole line; a line end is added when it has none. Clears the bar first.
  void line(const std::string& text);

  // Redraws the bar at most a few times a second. total_bytes 0: unknown.
  void progress(std::uint64_t bytes, std::uint64_t total_bytes, std::uint64_t lines);

  // Removes the bar for good, before the summary.
  void end_progress();

 private:
  void clear_bar_locked();

  std::mutex mutex_;
  std::ostream& out_;
  bool progress_bar_;
  bool bar_shown_ = false;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_draw_{};
};

// "12.3 MB", "512 B".
std::string human_bytes(std::uint64_t bytes);
