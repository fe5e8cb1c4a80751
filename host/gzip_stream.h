// A gzip-compressed log read through zlib, as the stream of its text.
#pragma once

#include <istream>
#include <streambuf>
#include <string>

// One reader at a time; closes the file when destroyed.
class gzip_streambuf : public std::streambuf {
 public:
  explicit gzip_streambuf(const std::string& path);
  ~gzip_streambuf() override;
  gzip_streambuf(const gzip_streambuf&) = delete;
  gzip_streambuf& operator=(const gzip_streambuf&) = delete;

  bool is_open() const noexcept { return file_ != nullptr; }
  // zlib's message when the data ended damaged or cut short, "" otherwise.
  const std::string& error() const noexcept { return error_; }

 protected:
  int_type underflow() override;

 private:
  void* file_;  // gzFile
  std::string error_;
  char buffer_[1 << 16];
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
