// How much of a state's own stack a pattern match must leave below itself.
#pragma once

#include <cstddef>

// Below a match's deepest level an error handler, or a finaliser run by an
// allocation there, can run any Lua code, down to the interpreter's limit on
// nested C calls (200, and 225 for error handlers past it). The largest frame
// one such level takes is gsub's calling a function (its buffer is 8 KiB;
// 9.1 KiB measured on x86-64 Linux, less with MinGW's smaller buffer).
constexpr std::size_t nested_c_calls = 225;
constexpr std::size_t bytes_per_c_call = 10 * 1024;
constexpr std::size_t stack_reserve = nested_c_calls * bytes_per_c_call;

// One level of the matcher's recursion (96 bytes measured for the library's
// on x86-64 Linux), with room for other builds and Windows' home space.
constexpr std::size_t bytes_per_match_level = 320;
