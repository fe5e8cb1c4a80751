// Reading a file named by a UTF-8 path: only a regular file, opened without
// blocking, so that a FIFO, a device or a directory never holds up a load.
#pragma once

#include <cstdint>
#include <cstdio>

namespace platform {

// Text mode folds CR LF and ends at Ctrl-Z where the run-time library has such
// a mode; binary mode reads the bytes as they are. The same elsewhere.
enum class input_mode { text, binary };

// Owns one stream opened for reading; closes it in the destructor. One thread
// at a time. Never throws.
class input_file {
 public:
  // Opens `utf8_path` when it names a regular file that can be read; a path
  // that is not valid UTF-8 names no file. Check is_open() afterwards. Takes
  // a plain pointer: no allocation may throw on a caller's Lua stack.
  input_file(const char* utf8_path, input_mode mode) noexcept;
  ~input_file();
  input_file(const input_file&) = delete;
  input_file& operator=(const input_file&) = delete;

  bool is_open() const noexcept { return stream_ != nullptr; }
  // The open stream, or null. Owned by this object: never fclose it.
  std::FILE* stream() const noexcept { return stream_; }
  // The file's size in bytes when it was opened, as it lies on disk.
  std::uint64_t size() const noexcept { return size_; }
  // Why the file is not open, or why restart_binary failed; a static text.
  const char* failure() const noexcept { return failure_; }

  // Goes back to the start of the same file and reads in binary mode from
  // there on. False (with failure() set) when the stream cannot.
  bool restart_binary() noexcept;

 private:
  std::FILE* stream_ = nullptr;
  std::uint64_t size_ = 0;
  const char* failure_ = "";
};

}  // namespace platform
