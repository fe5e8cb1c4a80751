// The script loader against the interpreter's own file loader: for every kind
// of file that both can read, the same status, message, chunk and line numbers.
#include <gtest/gtest.h>

#include <lua.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "script/script_file.h"

namespace fs = std::filesystem;

namespace {

// Relative, so that messages show it whole (long names are cut at the front).
const char* const script_name = "t.lua";

// A fresh working directory for one test; the old one comes back after it.
class scratch_working_directory {
 public:
  scratch_working_directory()
      : old_(fs::current_path()),
        path_(fs::temp_directory_path() /
              ("quillharbor-script-file-" + std::to_string(std::random_device()()))) {
    fs::create_directories(path_);
    fs::current_path(path_);
  }
  ~scratch_working_directory() {
    std::error_code ignored;
    fs::current_path(old_, ignored);
    fs::remove_all(path_, ignored);
  }
  scratch_working_directory(const scratch_working_directory&) = delete;
  scratch_working_directory& operator=(const scratch_working_directory&) = delete;

 private:
  fs::path old_, path_;
};

// The precompiled form of `source`, as string.dump gives it.
std::string precompiled(const char* source) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  lua_getglobal(L, "string");
  lua_getfield(L, -1, "dump");
  luaL_loadstring(L, source);
  lua_call(L, 1, 1);
  std::size_t length = 0;
  const char* bytes = lua_tolstring(L, -1, &length);
  std::string chunk(bytes, length);
  lua_close(L);
  return chunk;
}

// "load <status>: <message>", "run: <results, '|' between>" or "run error: <message>".
std::string outcome(int (*load)(lua_State*, const char*)) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  std::string text;
  const int status = load(L, script_name);
  if (lua_gettop(L) != 1) {
    text = "left " + std::to_string(lua_gettop(L)) + " values";
  } else if (status != 0) {
    text = "load " + std::to_string(status) + ": " + lua_tostring(L, -1);
  } else if (lua_pcall(L, 0, LUA_MULTRET, 0) != 0) {
    text = std::string("run error: ") + lua_tostring(L, -1);
  } else {
    text = "run: ";
    for (int i = 1; i <= lua_gettop(L); ++i) text += (i > 1 ? "|" : "") + std::string(lua_tostring(L, i));
  }
  lua_close(L);
  return text;
}

struct loader_case {
  const char* name;
  std::function<std::string()> content;  // empty: no file at all
  const char* expected;                  // how the outcome starts
};

const char* const dumped_source = "return 'a\\r\\n\\26b', 3";

const loader_case cases[] = {
    {"plain", [] { return "return 1 + 1"; }, "run: 2"},
    {"hash_line_skipped_and_counted", [] { return "#!/usr/bin/lua\nlocal x = 1\nerror('here')"; },
     "run error: t.lua:3: here"},
    {"hash_line_alone", [] { return "# nothing else"; }, "run: "},
    {"hash_line_with_crlf", [] { return "#!lua\r\nreturn 5\r\n"; }, "run: 5"},
    {"syntax_error_after_hash_line", [] { return "#x\n\nreturn +"; }, "load 3: t.lua:3:"},
    {"empty", [] { return ""; }, "run: "},
    {"precompiled", [] { return precompiled(dumped_source); }, "run: a\r\n\x1a" "b|3"},
    {"precompiled_after_hash_line", [] { return "#!/usr/bin/lua\n" + precompiled(dumped_source); },
     "run: a\r\n\x1a" "b|3"},
    {"precompiled_cut_short", [] { return precompiled(dumped_source).substr(0, 20); }, "load 3: t.lua:"},
    // Text mode ends a file at Ctrl-Z where the run-time library has one.
    {"ctrl_z", [] { return "return 1\x1a junk"; }, ""},
    {"missing", nullptr, "load 6: cannot open t.lua"},
};

class script_file_loads : public ::testing::TestWithParam<loader_case> {};

TEST_P(script_file_loads, as_the_interpreters_loader_does) {
  scratch_working_directory here;
  if (GetParam().content) std::ofstream(script_name, std::ios::binary) << GetParam().content();
  const std::string ours = outcome(load_script_file);
  EXPECT_EQ(ours, outcome(luaL_loadfile));
  EXPECT_EQ(ours.rfind(GetParam().expected, 0), 0u) << ours;
}

INSTANTIATE_TEST_SUITE_P(kinds, script_file_loads, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
