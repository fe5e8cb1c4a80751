#include "script/server_variable.h"

#include <atomic>
#include <cstring>
#include <lua.hpp>

#include "platform/last_error.h"
#include "text/utf16.h"

namespace {

// Written at load only; relaxed atomics, so that a load beside a running host
// thread is no data race.
std::atomic<std::uint32_t> reading_limit{0};
std::atomic<void (*)(void*) noexcept> reading_count{nullptr};
std::atomic<void*> reading_context{nullptr};

// Whether a value the server needs `size` bytes for is read again; counts it when not.
bool may_read_again(std::size_t size) noexcept {
  if (size <= reading_limit.load(std::memory_order_relaxed)) return true;
  if (reading_limit.load(std::memory_order_relaxed) == 0) return false;  // the feature is off
  if (auto count = reading_count.load(std::memory_order_relaxed))
    count(reading_context.load(std::memory_order_relaxed));
  return false;
}

std::size_t narrow_length(const char* buffer, std::size_t size) {
  const void* nul = std::memchr(buffer, 0, size);
  return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : size;
}

// Bytes before the first NUL unit; a last odd byte counts when there is none.
std::size_t wide_length(const char* buffer, std::size_t size) {
  // Four units at a time up to the word that holds a zero one: a unit u is
  // zero exactly when (u - 1) & ~u has its top bit set.
  constexpr std::uint64_t ones = 0x0001000100010001ull, tops = 0x8000800080008000ull;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t units;
    std::memcpy(&units, buffer + i, sizeof units);
    if (((units - ones) & ~units & tops) != 0) break;
  }
  for (; i + 1 < size; i += 2)
    if (buffer[i] == 0 && buffer[i + 1] == 0) return i;
  return size;
}

// Small enough for a request thread's stack; a longer value is converted on the heap.
constexpr std::size_t wide_stack_room = utf8_capacity(server_variable_buffer_size);

// [] -> [value]
void push_wide(lua_State* L, const char* bytes, std::size_t size) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  const std::size_t room = utf8_capacity(size);
  if (room <= wide_stack_room) {
    char out[wide_stack_room];
    lua_pushlstring(L, out, utf16le_to_utf8(in, size, out));
    return;
  }
  char* out = static_cast<char*>(lua_newuserdata(L, room));
  lua_pushlstring(L, out, utf16le_to_utf8(in, size, out));
  lua_remove(L, -2);
}

void push_value(lua_State* L, const char* bytes, std::size_t size, bool wide) {
  if (wide)
    push_wide(L, bytes, size);
  else
    lua_pushlstring(L, bytes, size);
}

struct value_bytes {
  const char* data;
  std::size_t size;  // 0 for no value
};

std::string wide_to_string(const char* bytes, std::size_t size) {
  std::string out(utf8_capacity(size), '\0');
  out.resize(utf16le_to_utf8(reinterpret_cast<const unsigned char*>(bytes), size, &out[0]));
  return out;
}

// The value by the reading rules: in `first` when it fits, else once more in
// reserve(size) when the server's size is within the limit. `first_touched`:
// how far the server may have written into `first`, for the caller to zero
// once the value is no longer needed.
template <class Reserve>
value_bytes read_variable(HTTP_FILTER_CONTEXT* filter_context, const char* name, bool wide,
                          first_read_buffer& first, std::size_t& first_touched, Reserve reserve) {
  variable_answer answer = ask_server_variable(filter_context, name, first.bytes(), first.size(), wide);
  first_touched = answer.touched;
  if (answer.kind == variable_answer::value) return {first.bytes(), answer.size};
  if (answer.kind != variable_answer::larger || !may_read_again(answer.size)) return {first.bytes(), 0};
  char* more = reserve(answer.size);
  std::memset(more, 0, answer.size);
  answer = ask_server_variable(filter_context, name, more, answer.size, wide);
  return {more, answer.kind == variable_answer::value ? answer.size : 0};
}

}  // namespace

void set_variable_reading(const variable_reading& reading) noexcept {
  reading_limit.store(reading.limit, std::memory_order_relaxed);
  reading_count.store(reading.count_over_limit, std::memory_order_relaxed);
  reading_context.store(reading.context, std::memory_order_relaxed);
}

bool is_wide_variable(const char* name) noexcept {
  // The server compares names without regard to case; ASCII's only, whatever the locale.
  for (const char* prefix = "UNICODE_"; *prefix != 0; ++prefix, ++name) {
    const char c = *name >= 'a' && *name <= 'z' ? static_cast<char>(*name - 'a' + 'A') : *name;
    if (c != *prefix) return false;
  }
  return true;
}

first_read_buffer::first_read_buffer() noexcept { std::memset(bytes_, 0, sizeof bytes_); }

void first_read_buffer::rezero(std::size_t touched) noexcept {
  std::memset(bytes_, 0, touched < sizeof bytes_ ? touched : sizeof bytes_);
}

variable_answer ask_server_variable(HTTP_FILTER_CONTEXT* filter_context, const char* name,
                                    char* buffer, std::size_t size, bool wide) noexcept {
  if (filter_context == nullptr || filter_context->GetServerVariable == nullptr)
    return {variable_answer::none, 0, 0};
  DWORD asked = static_cast<DWORD>(size);
  // The interface takes the name as LPSTR; the server does not write to it.
  if (filter_context->GetServerVariable(filter_context, const_cast<char*>(name), buffer, &asked)) {
    const std::size_t length = wide ? wide_length(buffer, size) : narrow_length(buffer, size);
    // Written: the value and its terminator, and as far as the server says.
    std::size_t touched = length + (wide ? 2 : 1);
    if (touched < asked) touched = asked;
    return {variable_answer::value, length, touched < size ? touched : size};
  }
  // What a refusal wrote is unknown.
  if (asked > size && platform::last_error_is_buffer_too_small())
    return {variable_answer::larger, asked, size};
  return {variable_answer::none, 0, size};
}

int push_server_variable(lua_State* L, HTTP_FILTER_CONTEXT* filter_context, const char* name) {
  first_read_buffer first;
  return push_server_variable(L, filter_context, name, first);
}

int push_server_variable(lua_State* L, HTTP_FILTER_CONTEXT* filter_context, const char* name,
                         first_read_buffer& first) {
  const bool wide = is_wide_variable(name);
  bool reserved = false;
  std::size_t touched = 0;
  const value_bytes value = read_variable(filter_context, name, wide, first, touched, [&](std::size_t size) {
    reserved = true;
    // Lua's memory: the collector frees it even when a push below raises.
    return static_cast<char*>(lua_newuserdata(L, size));
  });
  push_value(L, value.data, value.size, wide);
  if (reserved) lua_remove(L, -2);
  // A push that raises ends the caller's call, and its later reads with it.
  first.rezero(touched);
  return 1;
}

std::string get_server_variable(HTTP_FILTER_CONTEXT* filter_context, const std::string& name) {
  const bool wide = is_wide_variable(name.c_str());
  first_read_buffer first;
  std::size_t touched = 0;
  std::string more;
  const value_bytes value = read_variable(filter_context, name.c_str(), wide, first, touched, [&](std::size_t size) {
    more.resize(size);
    return &more[0];
  });
  return wide ? wide_to_string(value.data, value.size) : std::string(value.data, value.size);
}
