#include "script/script_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <lua.hpp>

#include "platform/input_file.h"

namespace {

struct chunk_reader {
  std::FILE* stream;
  bool extra_line;  // the line feed of a skipped '#' line, so later lines keep their numbers
  char buffer[LUAL_BUFFERSIZE];
};

const char* read_chunk(lua_State*, void* data, std::size_t* size) {
  auto* reader = static_cast<chunk_reader*>(data);
  if (reader->extra_line) {
    reader->extra_line = false;
    *size = 1;
    return "\n";
  }
  if (std::feof(reader->stream)) return nullptr;
  *size = std::fread(reader->buffer, 1, sizeof reader->buffer, reader->stream);
  return *size > 0 ? reader->buffer : nullptr;
}

// Words a failure as "cannot <step> <path>: <reason>".
struct file_failure {
  const char* step = nullptr;
  const char* reason = nullptr;
};

// The file is open only in here, and nothing in here raises a Lua error, so it
// is always closed. [] -> [chunk or message], or [] with `failure` set.
int load_open_file(lua_State* L, const char* path, const char* chunk_name, file_failure& failure) {
  platform::input_file file(path, platform::input_mode::text);
  if (!file.is_open()) {
    failure = {"open", file.failure()};
    return LUA_ERRFILE;
  }
  chunk_reader reader{file.stream(), false, {}};
  int c = std::getc(reader.stream);
  if (c == '#') {  // "#!/usr/bin/lua" and the like
    reader.extra_line = true;
    while ((c = std::getc(reader.stream)) != EOF && c != '\n') {
    }
    if (c == '\n') c = std::getc(reader.stream);
  }
  if (c == LUA_SIGNATURE[0]) {  // precompiled: its bytes unchanged, from the start
    if (!file.restart_binary()) {
      failure = {"reopen", file.failure()};
      return LUA_ERRFILE;
    }
    while ((c = std::getc(reader.stream)) != EOF && c != LUA_SIGNATURE[0]) {
    }
    reader.extra_line = false;
  }
  std::ungetc(c, reader.stream);
  const int status = lua_load(L, read_chunk, &reader, chunk_name);
  if (std::ferror(reader.stream)) {
    lua_pop(L, 1);
    failure = {"read", std::strerror(errno)};
    return LUA_ERRFILE;
  }
  return status;
}

}  // namespace

int load_script_file(lua_State* L, const char* path) {
  lua_pushfstring(L, "@%s", path);
  const int name_index = lua_gettop(L);
  file_failure failure;
  const int status = load_open_file(L, path, lua_tostring(L, name_index), failure);
  if (failure.step != nullptr) lua_pushfstring(L, "cannot %s %s: %s", failure.step, path, failure.reason);
  lua_remove(L, name_index);
  return status;
}
