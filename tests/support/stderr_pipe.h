// Standard error sent into a pipe of the test's for the object's lifetime, so
// that a test decides when, and whether, anything reads it.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

class stderr_pipe {
 public:
  stderr_pipe() : saved_(::dup(STDERR_FILENO)) {
    int ends[2];
    if (::pipe(ends) != 0) return;
    read_end_ = ends[0];
    ::dup2(ends[1], STDERR_FILENO);
    ::close(ends[1]);
  }
  ~stderr_pipe() {
    restore();
    if (read_end_ >= 0) ::close(read_end_);
  }
  stderr_pipe(const stderr_pipe&) = delete;
  stderr_pipe& operator=(const stderr_pipe&) = delete;

  // Standard error as it was; the reader then sees the end of the pipe.
  void restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }

  // Everything in the pipe now, without waiting.
  std::string drain() {
    std::string all;
    const int flags = ::fcntl(read_end_, F_GETFL);
    ::fcntl(read_end_, F_SETFL, flags | O_NONBLOCK);
    char buffer[65536];
    for (ssize_t n; (n = ::read(read_end_, buffer, sizeof buffer)) > 0;) all.append(buffer, n);
    ::fcntl(read_end_, F_SETFL, flags);
    return all;
  }

  // Everything until every writer has gone (after restore()).
  std::string read_to_end() {
    std::string all;
    char buffer[65536];
    for (ssize_t n; (n = ::read(read_end_, buffer, sizeof buffer)) > 0;) all.append(buffer, n);
    return all;
  }

 private:
  int saved_;
  int read_end_ = -1;
};
