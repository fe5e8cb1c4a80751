#include "script/script_api.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <lua.hpp>
#include <stdexcept>

#include "filter/diagnostics.h"
#include "filter/text_cut.h"
#include "platform/uuid.h"
#include "script/enqueue_context.h"
#include "script/process_id_api.h"

namespace {

constexpr std::size_t uuid_text_size = 33;

// Hands the text to the debug trace. The copy can run out of memory; the line
// is then lost, as debug_trace loses the lines it cannot compose.
void trace_text(const char* text) noexcept {
  try {
    debug_trace(cut_text(text));
  } catch (const std::bad_alloc&) {
  }
}

int ndebug(lua_State* L) {
  trace_text(luaL_checkstring(L, 1));
  return 0;
}

// Fills `text` with a new UUID, or `failure` with the reason; no exception
// leaves it, so none can unwind through the interpreter.
bool uuid_text(char (&text)[uuid_text_size], char (&failure)[64]) noexcept {
  try {
    const std::string made = new_uuid_string();
    std::memcpy(text, made.c_str(), uuid_text_size);
    return true;
  } catch (const std::exception& e) {
    std::snprintf(failure, sizeof failure, "%s", e.what());
    return false;
  }
}

int uuid(lua_State* L) {
  char text[uuid_text_size];
  char failure[64];
  if (!uuid_text(text, failure)) {
    lua_pushstring(L, failure);
    return lua_error(L);
  }
  lua_pushstring(L, text);
  return 1;
}

}  // namespace

void register_script_api(lua_State* L) {
  lua_pushcfunction(L, ndebug);
  lua_setfield(L, LUA_GLOBALSINDEX, "ndebug");
  lua_pushcfunction(L, uuid);
  lua_setfield(L, LUA_GLOBALSINDEX, "uuid");
  register_enqueue_context(L);
  register_process_id(L);
}

std::string new_uuid_string() {
  platform::uuid_fields id;
  if (!platform::create_uuid(id)) throw std::domain_error("UuidCreate");
  char text[uuid_text_size];
  std::snprintf(text, sizeof text, "%08x%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(id.data1), static_cast<unsigned>(id.data2),
                static_cast<unsigned>(id.data3), id.data4[0], id.data4[1], id.data4[2], id.data4[3],
                id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
  return std::string(text, uuid_text_size - 1);
}
