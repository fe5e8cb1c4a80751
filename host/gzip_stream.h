// A gzip-compressed log read through zlib, as the stream of its text.
#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

struct z_stream_s;

// One reader at a time; closes the file when destroyed. Several gzip members
// in a row read as one text, as zcat reads them.
class gzip_streambuf : public std::streambuf {
 public:
  explicit gzip_streambuf(const std::string& path);
  ~gzip_streambuf() override;
  gzip_streambuf(const gzip_streambuf&) = delete;
  gzip_streambuf& operator=(const gzip_streambuf&) = delete;

  bool is_open() const noexcept { return open_; }
  // Why the text ended before the file did (damaged or cut-short data, or
  // bytes after a member that begin no other), "" when it did not.
  const std::string& error() const noexcept { return error_; }

 protected:
  int_type underflow() override;

 private:
  bool read_more();
  bool start_member();

  std::ifstream file_;
  std::unique_ptr<z_stream_s> stream_;
  bool open_ = false;
  bool in_member_ = false;
  std::uint64_t consumed_ = 0;  // compressed bytes before in_
  std::string error_;
  char in_[1 << 16];
  char out_[1 << 16];
};

class gzip_istream : public std::istream {
 public:
  explicit gzip_istream(const std::string& path) : std::istream(nullptr), buffer_(path) { rdbuf(&buffer_); }
  const gzip_streambuf& buffer() const noexcept { return buffer_; }

 private:
  gzip_streambuf buffer_;
};

// True when the file begins with gzip's magic bytes.
bool is_gzip_file(const std::string& path);
