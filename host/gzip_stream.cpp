#include "host/gzip_stream.h"

#include <zlib.h>

#include <cstring>

namespace {

constexpr int gzip_only = 15 + 16;  // the largest window, a gzip header and trailer

}  // namespace

gzip_streambuf::gzip_streambuf(const std::string& path)
    : file_(path, std::ios::binary), stream_(std::make_unique<z_stream_s>()) {
  *stream_ = z_stream_s{};
  open_ = file_.is_open() && inflateInit2(stream_.get(), gzip_only) == Z_OK;
}

gzip_streambuf::~gzip_streambuf() {
  if (open_) inflateEnd(stream_.get());
}

// Keeps the unread input and appends what the file has next; false at its end.
bool gzip_streambuf::read_more() {
  z_stream_s& z = *stream_;
  const std::size_t kept = z.avail_in;
  consumed_ += static_cast<std::uint64_t>(z.next_in == nullptr ? 0 : z.next_in - reinterpret_cast<Bytef*>(in_));
  if (kept > 0) std::memmove(in_, z.next_in, kept);
  file_.read(in_ + kept, static_cast<std::streamsize>(sizeof in_ - kept));
  const auto got = static_cast<std::size_t>(file_.gcount());
  z.next_in = reinterpret_cast<Bytef*>(in_);
  z.avail_in = static_cast<uInt>(kept + got);
  return got > 0;
}

// At the end of a member (or the file's start): another member or the file's
// end must follow. False, with error_ set, when other bytes do.
bool gzip_streambuf::start_member() {
  z_stream_s& z = *stream_;
  if (z.avail_in < 2) read_more();
  if (z.avail_in == 0) return false;  // the file ends after a whole member
  if (z.avail_in < 2 || z.next_in[0] != 0x1F || z.next_in[1] != 0x8B) {
    const auto at = consumed_ + static_cast<std::uint64_t>(z.next_in - reinterpret_cast<Bytef*>(in_));
    error_ = "not gzip data after byte " + std::to_string(at) + ", where the gzip data ended";
    return false;
  }
  inflateReset(&z);
  in_member_ = true;
  return true;
}

gzip_streambuf::int_type gzip_streambuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (!open_ || !error_.empty()) return traits_type::eof();
  z_stream_s& z = *stream_;
  for (;;) {
    if (!in_member_ && !start_member()) return traits_type::eof();
    if (z.avail_in == 0 && !read_more()) {
      error_ = "gzip data damaged: unexpected end of file";
      return traits_type::eof();
    }
    z.next_out = reinterpret_cast<Bytef*>(out_);
    z.avail_out = sizeof out_;
    const int code = inflate(&z, Z_NO_FLUSH);
    const auto produced = static_cast<std::streamsize>(sizeof out_ - z.avail_out);
    if (code == Z_STREAM_END) {
      in_member_ = false;
    } else if (code != Z_OK && code != Z_BUF_ERROR) {
      error_ = std::string("gzip data damaged: ") + (z.msg ? z.msg : "unreadable gzip data");
    }
    if (produced > 0) {
      setg(out_, out_, out_ + produced);
      return traits_type::to_int_type(*gptr());
    }
    if (!error_.empty()) return traits_type::eof();
  }
}

bool is_gzip_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[2] = {};
  return in.read(magic, 2) && magic[0] == '\x1F' && magic[1] == '\x8B';
}
