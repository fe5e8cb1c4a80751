#include "host/replay_console.h"

#include <cstdio>

namespace {

// The bar and its figures fit an 80-column terminal without wrapping.
constexpr std::size_t bar_width = 79;

}  // namespace

std::string human_bytes(std::uint64_t bytes) {
  const char* units[] = {"B", "kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1000 && unit < 4) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
  return text;
}

void replay_console::line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  clear_bar_locked();
  out_ << text;
  if (text.empty() || text.back() != '\n') out_ << '\n';
  out_.flush();
}

void replay_console::progress(std::uint64_t bytes, std::uint64_t total_bytes, std::uint64_t lines) {
  if (!progress_bar_) return;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  if (now - last_draw_ < std::chrono::milliseconds(200)) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const double per_second = seconds > 0 ? static_cast<double>(lines) / seconds : 0;
  char text[160];
  if (total_bytes > 0) {
    const double share = bytes >= total_bytes ? 1.0 : static_cast<double>(bytes) / static_cast<double>(total_bytes);
    constexpr int width = 24;
    const int filled = static_cast<int>(share * width);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(width, '.');
    std::snprintf(text, sizeof text, "\r[%s] %3.0f%%  %s of %s  %.0f lines/s ", bar.c_str(),
                  share * 100, human_bytes(bytes).c_str(), human_bytes(total_bytes).c_str(), per_second);
  } else {
    std::snprintf(text, sizeof text, "\r%s read  %llu lines  %.0f lines/s ", human_bytes(bytes).c_str(),
                  static_cast<unsigned long long>(lines), per_second);
  }
  // Padded, so that a shorter line leaves nothing of the last one behind.
  std::string drawn(text);  // begins with "\r", which takes no column
  if (drawn.size() < bar_width + 1) drawn.append(bar_width + 1 - drawn.size(), ' ');
  out_ << drawn;
  out_.flush();
  bar_shown_ = true;
}

void replay_console::end_progress() {
  std::lock_guard<std::mutex> lock(mutex_);
  clear_bar_locked();
  progress_bar_ = false;
}

void replay_console::clear_bar_locked() {
  if (!bar_shown_) return;
  // Spaces rather than an escape sequence: every console understands them.
  out_ << '\r' << std::string(bar_width, ' ') << '\r';
  bar_shown_ = false;
}
