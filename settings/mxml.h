// A thin reader over Expat: feeds one file to a prepared parser and finds
// attributes. Knows nothing of the settings schema.
#pragma once

#include <expat.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace MXML {

// The parser rejected the input; the position is the parser's at that moment.
struct SyntaxException : std::domain_error {
  SyntaxException(std::int32_t code, std::int32_t byte_index, std::int32_t line,
                  std::int32_t column)
      : std::domain_error(""), code(code), byte_index(byte_index), line(line), column(column) {}
  std::int32_t code;        // Expat's XML_Error
  std::int32_t byte_index;  // -1 when the parser has no position
  std::int32_t line;        // from 1
  std::int32_t column;      // from 0
};

// Feeds the file at `path` (UTF-8) to `parser` in 4096-byte chunks, in text
// mode where the platform has one. A file that cannot be opened, is not a
// regular file or is larger than 1 MiB reads as an empty one.
// Throws SyntaxException on rejection; an exception thrown by a handler run
// through call_handler comes out unchanged. Neither creates nor frees `parser`.
void parse_file(XML_Parser parser, const std::string& path);

// Runs `body` inside an Expat callback of `parser`. An exception it throws is
// kept, the parser is stopped, and parse_file rethrows it once Expat has
// returned: C++ exceptions never unwind through Expat's frames.
template <typename Body>
void call_handler(XML_Parser parser, Body&& body) noexcept;

// The value of the first attribute named exactly `name` in a start tag's
// attribute list, or the empty string.
std::string attribute(const XML_Char** attributes, const char* name);

}  // namespace MXML

#include "settings/mxml_handler.h"
