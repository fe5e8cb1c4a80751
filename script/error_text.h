// Texts taken from Lua values without allocating in the state, so that they
// can be read outside protection and inside C++ code that must not be jumped over.
#pragma once

#include <lua.hpp>
#include <string>
#include <string_view>

// Room for the interpreter's text of any number, NUL included.
constexpr std::size_t number_text_size = LUAI_MAXNUMBER2STR;

// Writes `n` as the interpreter's tostring does ("%.14g"); returns its length.
std::size_t number_text(lua_Number n, char (&out)[number_text_size]) noexcept;

// The text of a string or number at `index`, cut at its first NUL. Only for
// values of those two types.
std::string plain_text(lua_State* L, int index);

// The same without allocating: a view of the string inside the state, or of
// the number written into `buffer`. Valid while the value stays on the stack
// and `buffer` lives.
std::string_view plain_text_view(lua_State* L, int index, char (&buffer)[number_text_size]) noexcept;

// The text of an error value at `index`: strings and numbers as plain_text, cut
// past text_limit bytes; any other value named by its type, e.g. "(error object
// is a table value)".
std::string error_value_text(lua_State* L, int index);
