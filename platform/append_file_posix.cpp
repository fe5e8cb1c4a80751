#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>

namespace platform {

namespace {

// The descriptor is kept in the handle, offset by one so that 0 stays "none".
int descriptor(void* handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1); }

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

bool append_file::write(const char* data, std::size_t size) noexcept {
  if (handle_ == nullptr) return false;
  while (size > 0) {
    const ssize_t written = ::write(descriptor(handle_), data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
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

bool replace_file(const std::string& from, const std::string& to) noexcept {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace platform
