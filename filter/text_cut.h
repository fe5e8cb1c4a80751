// Texts from scripts can be of any length; what reaches the two outlets is
// kept to a few KiB, with a marker saying how much was left out.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

// Bytes kept of a text taken from a script (an error message, an ndebug
// argument), cut where it enters.
constexpr std::size_t text_limit = 4096;

// Bytes kept of a whole trace or event text: room for one cut text and the
// fixed pieces around it.
constexpr std::size_t outlet_limit = 2 * text_limit;

// `text` when it has at most `limit` bytes; otherwise its first `limit` bytes
// (fewer, so as not to split a UTF-8 sequence) and "... [N more bytes]".
// Copies no more than that of a long text. Throws std::bad_alloc.
std::string cut_text(std::string_view text, std::size_t limit = text_limit);

// Writes what cut_text would return, without building it.
void write_cut(std::ostream& out, std::string_view text, std::size_t limit = text_limit);
