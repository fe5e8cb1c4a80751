// Where the module takes lua51.dll from. This program lies in a folder without
// one and imports none, so that only the module's own search brings one in.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "tests/support/loaded_module.h"

namespace fs = std::filesystem;

namespace {

const char* const script = R"(
function on_init() return true end
function on_enqueue(h) return false end
function on_dequeue(f, n) end
function on_term() return true end
)";

// The working directory and PATH for one test; the old ones come back after it.
class search_places {
 public:
  search_places(const fs::path& working, const fs::path& on_path) : old_working_(fs::current_path()) {
    wchar_t old_path[32767] = {};
    ::GetEnvironmentVariableW(L"PATH", old_path, 32767);
    old_path_ = old_path;
    fs::current_path(working);
    ::SetEnvironmentVariableW(L"PATH", (on_path.wstring() + L";" + old_path_).c_str());
  }
  ~search_places() {
    ::SetEnvironmentVariableW(L"PATH", old_path_.c_str());
    std::error_code ignored;
    fs::current_path(old_working_, ignored);
  }
  search_places(const search_places&) = delete;
  search_places& operator=(const search_places&) = delete;

 private:
  fs::path old_working_;
  std::wstring old_path_;
};

// Loads the module from `dir` with the test script, expecting a refusal with
// event 13 whose text begins with `text`.
void expect_refused(const scratch_directory& dir, const std::string& text) {
  dir.write("quillharbor.setting", settings_text(dir.write("search.lua", script), 1));
  loaded_module module(dir.path());
  HTTP_FILTER_VERSION version{};
  EXPECT_EQ(module.get_filter_version(&version), FALSE);
  const auto events = module.capture().events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].identifier, 13u);
  EXPECT_EQ(events[0].text.substr(0, text.size()), text) << events[0].text;
}

// Defined first: no lua51.dll may be in the process before it.
TEST(lua_search, one_in_the_working_directory_or_on_path_is_never_loaded) {
  ASSERT_EQ(::GetModuleHandleW(L"lua51.dll"), nullptr);
  scratch_directory filter, working, on_path;
  fs::copy_file(QUILLHARBOR_LUA_DLL, working.path() / "lua51.dll");
  fs::copy_file(QUILLHARBOR_LUA_DLL, on_path.path() / "lua51.dll");
  const search_places planted(working.path(), on_path.path());
  expect_refused(filter, "quillharbor failed to load (cannot load lua51.dll)");
  EXPECT_EQ(::GetModuleHandleW(L"lua51.dll"), nullptr);
}

// Beside the filter, or brought in by another module of the host: lacking a
// function that the filter calls, it is refused before the first Lua call,
// whose binding would otherwise end the process.
TEST(lua_search, one_without_a_function_the_filter_calls_is_refused) {
  const std::string refused = "quillharbor failed to load (cannot load lua51.dll: no function lua";
  {
    scratch_directory filter;
    fs::copy_file(QUILLHARBOR_INCOMPLETE_LUA_DLL, filter.path() / "lua51.dll");
    expect_refused(filter, refused);
    EXPECT_EQ(::GetModuleHandleW(L"lua51.dll"), nullptr) << "an unfit library is given back";
  }
  const HMODULE present = ::LoadLibraryA(QUILLHARBOR_INCOMPLETE_LUA_DLL);
  ASSERT_NE(present, nullptr);
  scratch_directory filter;
  fs::copy_file(QUILLHARBOR_LUA_DLL, filter.path() / "lua51.dll");
  expect_refused(filter, refused);
  ::FreeLibrary(present);
}

}  // namespace
