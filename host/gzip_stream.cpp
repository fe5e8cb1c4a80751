#include "host/gzip_stream.h"

#include <zlib.h>

#include <fstream>

gzip_streambuf::gzip_streambuf(const std::string& path) : file_(gzopen(path.c_str(), "rb")) {
  if (file_ != nullptr) gzbuffer(static_cast<gzFile>(file_), 1 << 17);
}

gzip_streambuf::~gzip_streambuf() {
  if (file_ != nullptr) gzclose(static_cast<gzFile>(file_));
}

gzip_streambuf::int_type gzip_streambuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (file_ == nullptr || !error_.empty()) return traits_type::eof();
  const auto file = static_cast<gzFile>(file_);
  const int got = gzread(file, buffer_, sizeof buffer_);
  int code = Z_OK;
  const char* message = gzerror(file, &code);
  // A cut-short file reads as far as it goes, then reports Z_BUF_ERROR.
  if (code != Z_OK) error_ = message && *message ? message : "unreadable gzip data";
  if (got <= 0) return traits_type::eof();
  setg(buffer_, buffer_, buffer_ + got);
  return traits_type::to_int_type(*gptr());
}

bool is_gzip_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[2] = {};
  return in.read(magic, 2) && magic[0] == '\x1F' && magic[1] == '\x8B';
}
