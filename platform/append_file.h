// A file that lines are appended to, and the rename that rotates it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// What a writer of a rotated file needs of the file system: one open file and
// the rename beside it. The real one is append_file; a test may put a fake in
// its place. One thread at a time: its owner serialises the calls.
class append_target {
 public:
  virtual ~append_target() = default;

  // Opens `path` (UTF-8), closing any file held before. False when it cannot.
  virtual bool open(const std::string& path) noexcept = 0;
  virtual bool is_open() const noexcept = 0;
  // Appends up to `size` bytes at the end of the file as it is then; returns
  // how many went out. Fewer than `size`: the disk is full, the file may not
  // grow (never a signal), or it failed otherwise.
  virtual std::size_t write(const char* data, std::size_t size) noexcept = 0;
  // The file's size in bytes; 0 when unknown.
  virtual std::int64_t size() const noexcept = 0;
  virtual void close() noexcept = 0;
  // Renames `from` to `to` (UTF-8), replacing a file of that name; the open
  // file may be `from`. False when it cannot.
  virtual bool replace(const std::string& from, const std::string& to) noexcept = 0;
  // The largest size this process may give a file (the file-size limit), as
  // it is now; INT64_MAX when there is none.
  virtual std::int64_t size_limit() const noexcept = 0;
};

// Owns one file opened for appending, created when missing.
class append_file final : public append_target {
 public:
  append_file() = default;
  ~append_file() override { close(); }
  append_file(const append_file&) = delete;
  append_file& operator=(const append_file&) = delete;

  bool open(const std::string& path) noexcept override;
  bool is_open() const noexcept override { return handle_ != nullptr; }
  std::size_t write(const char* data, std::size_t size) noexcept override;
  std::int64_t size() const noexcept override;
  void close() noexcept override;
  bool replace(const std::string& from, const std::string& to) noexcept override;
  std::int64_t size_limit() const noexcept override;

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
