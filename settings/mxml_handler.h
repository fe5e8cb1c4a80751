// How a handler's exception gets across Expat's C frames: call_handler keeps
// it and stops the parser, parse_file rethrows it once XML_Parse has returned.
#pragma once

#include <expat.h>

#include <exception>
#include <utility>

namespace MXML {
namespace detail {

// True once a handler of the parse_file now running `parser` on this thread
// has failed; Expat may still call back after XML_StopParser.
bool handler_failed(XML_Parser parser) noexcept;

// Keeps `failure` for the parse_file running `parser` on this thread and stops
// the parser. Outside parse_file only the stop remains.
void keep_handler_failure(XML_Parser parser, std::exception_ptr failure) noexcept;

}  // namespace detail

template <typename Body>
void call_handler(XML_Parser parser, Body&& body) noexcept {
  if (detail::handler_failed(parser)) return;
  try {
    std::forward<Body>(body)();
  } catch (...) {
    detail::keep_handler_failure(parser, std::current_exception());
  }
}

}  // namespace MXML
