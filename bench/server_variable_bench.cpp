// What reading one server variable costs the script: the first buffer as it
// was read before the variable limit existed, against today's reading with the
// limit absent and set, a value that needs a second read, and a UNICODE_ one.
#include <benchmark/benchmark.h>

#include <cstring>
#include <lua.hpp>
#include <string>

#include "platform/last_error.h"
#include "script/server_variable.h"

namespace {

// Answers as IIS does, from one value.
struct one_value_server {
  std::string value;
  std::size_t terminator = 1;
  HTTP_FILTER_CONTEXT context{};

  static BOOL WINAPI answer(HTTP_FILTER_CONTEXT* context, LPSTR, LPVOID buffer, LPDWORD size) {
    const auto* self = static_cast<const one_value_server*>(context->ServerContext);
    const DWORD needed = static_cast<DWORD>(self->value.size() + self->terminator);
    if (*size < needed) {
      *size = needed;
      platform::set_last_error_buffer_too_small();
      return FALSE;
    }
    std::memcpy(buffer, self->value.data(), self->value.size());
    std::memset(static_cast<char*>(buffer) + self->value.size(), 0, self->terminator);
    *size = needed;
    return TRUE;
  }
};

// The reading before the limit: one 2,048-byte buffer, zeroed, and its text up to the NUL.
__attribute__((noinline)) int first_buffer_only(lua_State* L, HTTP_FILTER_CONTEXT* context, const char* name) {
  char buffer[server_variable_buffer_size];
  std::memset(buffer, 0, sizeof buffer);
  DWORD size = sizeof buffer;
  std::size_t length = 0;
  if (context->GetServerVariable(context, const_cast<char*>(name), buffer, &size)) {
    const void* nul = std::memchr(buffer, 0, sizeof buffer);
    length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : sizeof buffer;
  }
  lua_pushlstring(L, buffer, length);
  return 1;
}

struct variable_case {
  const char* label;
  const char* name;
  std::string value;
  std::size_t terminator;
  std::uint32_t limit;
  bool before;
};

const variable_case& case_of(std::int64_t index) {
  static const std::string url = "/products/widgets/item?id=12345";
  static const variable_case cases[] = {
      {"fits, read as before the limit", "URL", url, 1, 0, true},
      {"fits, limit absent", "URL", url, 1, 0, false},
      {"fits, limit 65536", "URL", url, 1, 65536, false},
      {"5000 bytes, second read", "HTTP_COOKIE", std::string(5000, 'c'), 1, 65536, false},
      {"UNICODE_URL, fits", "UNICODE_URL", std::string(url.size() * 2, '\0'), 2, 0, false},
  };
  return cases[index];
}

void BM_server_variable(benchmark::State& state) {
  const variable_case& c = case_of(state.range(0));
  one_value_server server;
  server.value = c.value;
  server.terminator = c.terminator;
  if (c.terminator == 2)
    for (std::size_t i = 0; i < server.value.size(); i += 2) server.value[i] = 'a';
  server.context.ServerContext = &server;
  server.context.GetServerVariable = &one_value_server::answer;
  set_variable_reading({c.limit, nullptr, nullptr});
  lua_State* L = luaL_newstate();
  for (auto _ : state) {
    if (c.before)
      first_buffer_only(L, &server.context, c.name);
    else
      push_server_variable(L, &server.context, c.name);
    lua_settop(L, 0);
  }
  lua_close(L);
  set_variable_reading({});
  state.SetLabel(c.label);
}

}  // namespace

BENCHMARK(BM_server_variable)->DenseRange(0, 4)->Unit(benchmark::kNanosecond);
