#include "settings/mxml.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/input_file.h"

namespace MXML {
namespace {

constexpr std::size_t chunk_size = 4096;
// Expat's time grows with the square of one token's length, fed in chunks: a
// larger file could hold up the load for minutes.
constexpr std::size_t max_file_size = std::size_t{1} << 20;

// The parse_file calls running in the process, newest first. Not a
// thread-local: MinGW emulates those, allocating on a thread's first use. A
// parser is used by one thread at a time, so only the list needs the lock.
struct running_parse {
  XML_Parser parser;
  std::exception_ptr failure;
  running_parse* outer;
};
std::mutex running_lock;
running_parse* newest = nullptr;

running_parse* find_parse(XML_Parser parser) noexcept {
  const std::lock_guard<std::mutex> hold(running_lock);
  for (running_parse* parse = newest; parse != nullptr; parse = parse->outer)
    if (parse->parser == parser) return parse;
  return nullptr;
}

// Makes handler failures of `parser` reach this parse_file for its lifetime.
class parse_scope {
 public:
  explicit parse_scope(XML_Parser parser) : parse_{parser, nullptr, nullptr} {
    const std::lock_guard<std::mutex> hold(running_lock);
    parse_.outer = newest;
    newest = &parse_;
  }
  ~parse_scope() {
    const std::lock_guard<std::mutex> hold(running_lock);
    running_parse** link = &newest;
    while (*link != &parse_) link = &(*link)->outer;
    *link = parse_.outer;
  }
  parse_scope(const parse_scope&) = delete;
  parse_scope& operator=(const parse_scope&) = delete;

  void rethrow_handler_failure() const {
    if (parse_.failure) std::rethrow_exception(parse_.failure);
  }

 private:
  running_parse parse_;
};

// `fed` is how many bytes the parser was given. Before any, it has no position:
// Expat's patch levels disagree there (-1 or 0), so the answer is fixed at -1.
[[noreturn]] void throw_rejection(XML_Parser parser, std::size_t fed) {
  const auto code = static_cast<std::int32_t>(XML_GetErrorCode(parser));
  const auto byte_index =
      fed == 0 ? std::int32_t{-1} : static_cast<std::int32_t>(XML_GetCurrentByteIndex(parser));
  const auto line = static_cast<std::int32_t>(XML_GetCurrentLineNumber(parser));
  const auto column = static_cast<std::int32_t>(XML_GetCurrentColumnNumber(parser));
  throw SyntaxException(code, byte_index, line, column);
}

}  // namespace

namespace detail {

bool handler_failed(XML_Parser parser) noexcept {
  const running_parse* parse = find_parse(parser);
  return parse != nullptr && parse->failure != nullptr;
}

void keep_handler_failure(XML_Parser parser, std::exception_ptr failure) noexcept {
  if (running_parse* parse = find_parse(parser)) parse->failure = std::move(failure);
  XML_StopParser(parser, XML_FALSE);
}

}  // namespace detail

void parse_file(XML_Parser parser, const std::string& path) {
  // A file that cannot be opened, is no regular file or is too large reads as
  // an empty one: the parser then reports the missing document.
  const platform::input_file file(path.c_str(), platform::input_mode::text);
  std::FILE* const stream = file.is_open() && file.size() <= max_file_size ? file.stream() : nullptr;
  parse_scope scope(parser);
  char buffer[chunk_size];
  std::size_t fed = 0;
  for (;;) {
    // Never past the limit, should the file grow while it is read.
    const std::size_t wanted = std::min(chunk_size, max_file_size - fed);
    const std::size_t length = stream != nullptr ? std::fread(buffer, 1, wanted, stream) : 0;
    // A short read, at the end or on a read error, makes the chunk final.
    const bool final_chunk = length < chunk_size;
    const XML_Status status =
        XML_Parse(parser, buffer, static_cast<int>(length), final_chunk ? XML_TRUE : XML_FALSE);
    fed += length;
    scope.rethrow_handler_failure();
    if (status != XML_STATUS_OK) throw_rejection(parser, fed);
    if (final_chunk) return;
  }
}

std::string attribute(const XML_Char** attributes, const char* name) {
  for (const XML_Char** pair = attributes; *pair != nullptr; pair += 2)
    if (std::strcmp(pair[0], name) == 0) return std::string(pair[1]);
  return std::string();
}

}  // namespace MXML
