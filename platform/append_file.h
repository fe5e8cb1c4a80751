// A file that lines are appended to, and the rename that rotates it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Owns one file opened for appending, created when missing. One thread at a
// time: its owner serialises the calls.
class append_file {
 public:
  append_file() = default;
  ~append_file() { close(); }
  append_file(const append_file&) = delete;
  append_file& operator=(const append_file&) = delete;

  // Opens `path` (UTF-8), closing any file held before. False when it cannot.
  bool open(const std::string& path) noexcept;
  bool is_open() const noexcept { return handle_ != nullptr; }
  // Appends all `size` bytes, each call at the end of the file as it is then.
  // False when not all were written.
  bool write(const char* data, std::size_t size) noexcept;
  // The file's size in bytes; 0 when unknown.
  std::int64_t size() const noexcept;
  void close() noexcept;

 private:
  void* handle_ = nullptr;
};

// Renames `from` to `to` (UTF-8), replacing a file of that name. False when it cannot.
bool replace_file(const std::string& from, const std::string& to) noexcept;

}  // namespace platform
