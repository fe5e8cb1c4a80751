#include "platform/append_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <ctime>

namespace platform {

namespace {

// The descriptor is kept in the handle, offset by one so that 0 stays "none".
int descriptor(void* handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1); }

std::size_t write_all(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(fd, data + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += static_cast<std::size_t>(written);
  }
  return done;
}

// A write at the file-size limit raises SIGXFSZ, whose default ends the
// process. Blocked in this thread alone for the write, and taken back when
// this write raised it, it leaves only EFBIG; the host's disposition and every
// other thread's mask stay as they are.
std::size_t write_without_xfsz(int fd, const char* data, std::size_t size) {
  sigset_t xfsz;
  sigemptyset(&xfsz);
  sigaddset(&xfsz, SIGXFSZ);
  sigset_t before;
  if (pthread_sigmask(SIG_BLOCK, &xfsz, &before) != 0) return 0;
  sigset_t pending;
  const bool pending_before = sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
  const std::size_t done = write_all(fd, data, size);
  if (done < size && !pending_before) {
    const timespec now{};
    while (sigtimedwait(&xfsz, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return done;
}

}  // namespace

bool append_file::open(const std::string& path) noexcept {
  close();
  // Opened without blocking, and kept only when it is a regular file: a FIFO
  // or a device could block every writer.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      ::fcntl(fd, F_SETFL, O_APPEND) != 0) {
    ::close(fd);
    return false;
  }
  handle_ = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd) + 1);
  return true;
}

std::size_t append_file::write(const char* data, std::size_t size) noexcept {
  if (handle_ == nullptr) return 0;
  const int fd = descriptor(handle_);
  const std::int64_t limit = size_limit();
  if (limit == INT64_MAX) return write_all(fd, data, size);
  // What would cross the limit is not begun, so the file keeps whole lines.
  struct stat info {};
  if (::fstat(fd, &info) != 0) return 0;
  if (static_cast<std::uint64_t>(info.st_size) + size > static_cast<std::uint64_t>(limit)) {
    errno = EFBIG;
    return 0;
  }
  // Another writer of the file may still take the room between the two calls.
  return write_without_xfsz(fd, data, size);
}

std::int64_t append_file::size() const noexcept {
  struct stat info {};
  if (handle_ == nullptr || ::fstat(descriptor(handle_), &info) != 0) return 0;
  return static_cast<std::int64_t>(info.st_size);
}

void append_file::close() noexcept {
  if (handle_ == nullptr) return;
  ::close(descriptor(handle_));
  handle_ = nullptr;
}

bool append_file::replace(const std::string& from, const std::string& to) noexcept {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::int64_t append_file::size_limit() const noexcept {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur >= static_cast<rlim_t>(INT64_MAX))
    return INT64_MAX;
  return static_cast<std::int64_t>(limit.rlim_cur);
}

}  // namespace platform
