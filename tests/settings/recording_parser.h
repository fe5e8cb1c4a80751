// An Expat parser whose element handlers record each tag with the chunk it
// arrived in; for tests of how files reach the parser.
#pragma once

#include <expat.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "settings/mxml.h"

// A parser whose handlers record what they see; `on_start` may throw.
class recording_parser {
 public:
  struct event {
    std::string tag;  // "<name" or "</name"
    bool final_chunk;
    long long byte_index;
    bool operator==(const event& other) const {
      return tag == other.tag && final_chunk == other.final_chunk && byte_index == other.byte_index;
    }
  };

  recording_parser() : parser_(XML_ParserCreate(nullptr)) {
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, start, end);
  }
  ~recording_parser() { XML_ParserFree(parser_); }
  recording_parser(const recording_parser&) = delete;
  recording_parser& operator=(const recording_parser&) = delete;

  XML_Parser get() const { return parser_; }
  bool finished() const {
    XML_ParsingStatus status;
    XML_GetParsingStatus(parser_, &status);
    return status.parsing == XML_FINISHED;
  }

  std::vector<event> events;
  std::function<void(const std::string&)> on_start = [](const std::string&) {};

 private:
  void record(std::string tag) {
    XML_ParsingStatus status;
    XML_GetParsingStatus(parser_, &status);
    events.push_back({std::move(tag), status.finalBuffer == XML_TRUE, XML_GetCurrentByteIndex(parser_)});
  }
  static void XMLCALL start(void* self, const XML_Char* name, const XML_Char**) {
    auto& p = *static_cast<recording_parser*>(self);
    MXML::call_handler(p.parser_, [&] {
      p.record(std::string("<") + name);
      p.on_start(name);
    });
  }
  static void XMLCALL end(void* self, const XML_Char* name) {
    auto& p = *static_cast<recording_parser*>(self);
    MXML::call_handler(p.parser_, [&] { p.record(std::string("</") + name); });
  }

  XML_Parser parser_;
};

inline std::ostream& operator<<(std::ostream& out, const recording_parser::event& e) {
  return out << e.tag << (e.final_chunk ? " final @" : " @") << e.byte_index;
}
