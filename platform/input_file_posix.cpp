#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

input_file::input_file(const char* utf8_path, input_mode) noexcept {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer.
  const int fd = ::open(utf8_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    failure_ = std::strerror(errno);
    return;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    failure_ = std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    // A directory, FIFO, socket or device (a terminal behind /proc/self/fd/0
    // included) could block the reader or never end.
    failure_ = S_ISDIR(status.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
  } else {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
      failure_ = std::strerror(errno);
    } else if ((stream_ = ::fdopen(fd, "r")) == nullptr) {
      failure_ = std::strerror(errno);
    } else {
      size_ = static_cast<std::uint64_t>(status.st_size);
      return;
    }
  }
  ::close(fd);
}

input_file::~input_file() {
  if (stream_ != nullptr) std::fclose(stream_);
}

// No text mode here: the bytes are the same either way.
bool input_file::restart_binary() noexcept {
  if (std::fseek(stream_, 0, SEEK_SET) == 0) return true;
  failure_ = std::strerror(errno);
  return false;
}

}  // namespace platform
