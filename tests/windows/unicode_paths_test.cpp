// A filter in folders, and scripts under names, that the ANSI code page cannot
// hold: the filter finds its settings file and lua51.dll beside it, loads the
// script, and names it as the settings file wrote it.
#include <gtest/gtest.h>

#include "platform/web_server.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/input_file.h"
#include "quillharbor/outlets.h"
#include "tests/support/loaded_module.h"

namespace fs = std::filesystem;

namespace {

// The path of every test's folders; removed at the end, but for a lua51.dll
// that the process still holds.
class unicode_scratch {
 public:
  unicode_scratch()
      : base_(fs::temp_directory_path() / ("quillharbor-unicode-" + std::to_string(std::random_device()()))) {
    fs::create_directories(base_);
  }
  ~unicode_scratch() {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
  unicode_scratch(const unicode_scratch&) = delete;
  unicode_scratch& operator=(const unicode_scratch&) = delete;

  fs::path folder(const char* utf8_name) const {
    const fs::path folder = base_ / fs::u8path(utf8_name);
    fs::create_directories(folder);
    return folder;
  }

 private:
  fs::path base_;
};

std::string utf8(const fs::path& path) { return path.u8string(); }

void write_file(const fs::path& at, const std::string& bytes) {
  std::ofstream(at, std::ios::binary) << bytes;
}

// UTF-16LE with its byte-order mark.
std::string utf16_document(const std::string& utf8_text) {
  const std::wstring wide = fs::u8path(utf8_text).wstring();
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : wide) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  return bytes;
}

// The built module and lua51.dll copied into `folder` and loaded by its wide name.
class module_in_folder {
 public:
  explicit module_in_folder(const fs::path& folder) {
    fs::copy_file(QUILLHARBOR_MODULE_PATH, folder / "quillharbor.dll");
    fs::copy_file(QUILLHARBOR_LUA_DLL, folder / "lua51.dll");
    module_ = ::LoadLibraryW((folder / "quillharbor.dll").c_str());
    if (module_ == nullptr) throw std::runtime_error("cannot load the module");
    get_filter_version_ = reinterpret_cast<decltype(get_filter_version_)>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "GetFilterVersion")));
    terminate_filter_ = reinterpret_cast<decltype(terminate_filter_)>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "TerminateFilter")));
    const auto set_outlets = reinterpret_cast<quillharbor_set_outlets_fn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, QUILLHARBOR_SET_OUTLETS_SYMBOL)));
    set_outlets(&outlet_capture::on_event, &outlet_capture::on_trace, &capture);
  }
  ~module_in_folder() { ::FreeLibrary(module_); }
  module_in_folder(const module_in_folder&) = delete;
  module_in_folder& operator=(const module_in_folder&) = delete;

  BOOL load() {
    HTTP_FILTER_VERSION version{};
    return get_filter_version_(&version);
  }
  BOOL unload() { return terminate_filter_(0); }

  outlet_capture capture;

 private:
  HMODULE module_ = nullptr;
  BOOL(WINAPI* get_filter_version_)(HTTP_FILTER_VERSION*) = nullptr;
  BOOL(WINAPI* terminate_filter_)(DWORD) = nullptr;
};

// The working directory for one test; the old one comes back after it.
class working_directory {
 public:
  explicit working_directory(const fs::path& path) : old_(fs::current_path()) { fs::current_path(path); }
  ~working_directory() {
    std::error_code ignored;
    fs::current_path(old_, ignored);
  }
  working_directory(const working_directory&) = delete;
  working_directory& operator=(const working_directory&) = delete;

 private:
  fs::path old_;
};

std::string settings_for(const std::string& written_path, const char* encoding = "UTF-8") {
  return std::string("<?xml version=\"1.0\" encoding=\"") + encoding +
         "\"?>\n<setting>\n  <script path=\"" + written_path +
         "\" pool_size=\"1\"/>\n</setting>\n";
}

const char* const naming_script = R"(
ndebug(debug.getinfo(1, "S").source)
function on_init() return true end
function on_enqueue(h) return false end
function on_dequeue(f, n) end
function on_term() return true end
)";

// Defined first, so that it runs before any other test has brought lua51.dll in.
TEST(unicode_paths, lua_is_loaded_from_beside_the_filter) {
  if (::GetModuleHandleW(L"lua51.dll") != nullptr) GTEST_SKIP() << "lua51.dll was loaded already";
  unicode_scratch scratch;
  const fs::path folder = scratch.folder(u8"Überwachung 日志");
  write_file(folder / fs::u8path(u8"skrípt.lua"), naming_script);
  write_file(folder / "quillharbor.setting", settings_for(utf8(folder / fs::u8path(u8"skrípt.lua"))));
  module_in_folder module(folder);
  ASSERT_EQ(module.load(), TRUE);
  wchar_t lua_path[1024] = {};
  ASSERT_GT(::GetModuleFileNameW(::GetModuleHandleW(L"lua51.dll"), lua_path, 1024), 0u);
  EXPECT_EQ(fs::path(lua_path), folder / "lua51.dll");
  EXPECT_EQ(module.unload(), TRUE);
}

enum class written_as { utf8, entity_reference, utf16_document, relative };

struct unicode_case {
  const char* name;
  const char* folder;       // UTF-8
  const char* script;       // UTF-8
  const char* script_text;  // the script's name as the settings file writes it
  written_as form;
};

const unicode_case cases[] = {
    {"latin", u8"Überwachung", u8"skrípt.lua", u8"skrípt.lua", written_as::utf8},
    {"latin_by_entity_reference", u8"Überwachung", u8"skrípt.lua", "skr&#xED;pt.lua",
     written_as::entity_reference},
    {"cyrillic_in_a_utf16_file", u8"Журнал", u8"скрипт.lua", u8"скрипт.lua", written_as::utf16_document},
    {"cjk", u8"日志", u8"脚本.lua", u8"脚本.lua", written_as::utf8},
    {"mixed_relative_to_the_working_directory", u8"Überwachung 日志", u8"脚本 skrípt.lua",
     u8"脚本 skrípt.lua", written_as::relative},
};

class unicode_path_test : public ::testing::TestWithParam<unicode_case> {};

TEST_P(unicode_path_test, loads_and_names_the_script_as_written) {
  const unicode_case& c = GetParam();
  unicode_scratch scratch;
  const fs::path folder = scratch.folder(c.folder);
  write_file(folder / fs::u8path(c.script), naming_script);
  const bool relative = c.form == written_as::relative;
  const std::string folder_text = relative ? std::string() : utf8(folder) + "\\";
  const bool utf16 = c.form == written_as::utf16_document;
  const std::string settings = settings_for(folder_text + c.script_text, utf16 ? "UTF-16" : "UTF-8");
  write_file(folder / "quillharbor.setting", utf16 ? utf16_document(settings) : settings);
  const working_directory here(relative ? folder : fs::current_path());

  module_in_folder module(folder);
  ASSERT_EQ(module.load(), TRUE);
  ASSERT_EQ(module.capture.events().size(), 1u);
  EXPECT_EQ(module.capture.events()[0].text, "quillharbor loaded successfully");
  const std::string chunk_name = "@" + (relative ? std::string() : utf8(folder) + "\\") + c.script;
  EXPECT_EQ(module.capture.trace_texts(), (std::vector<std::string>{chunk_name, chunk_name}));
  EXPECT_EQ(module.unload(), TRUE);
}

INSTANTIATE_TEST_SUITE_P(names, unicode_path_test, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(unicode_paths, a_failing_script_is_named_as_written_in_trace_and_event) {
  unicode_scratch scratch;
  const fs::path folder = scratch.folder(u8"Überwachung 日志");
  write_file(folder / fs::u8path(u8"skrípt.lua"), "\nfunction on_init() error('boom') end\n");
  write_file(folder / "quillharbor.setting", settings_for(u8"skrípt.lua"));
  const working_directory here(folder);
  module_in_folder module(folder);
  EXPECT_EQ(module.load(), FALSE);
  const std::string text = u8"quillharbor failed to load (script on_init() error) code:2 message:skrípt.lua:2: boom";
  ASSERT_EQ(module.capture.events().size(), 1u);
  EXPECT_EQ(module.capture.events()[0].identifier, 8u);
  EXPECT_EQ(module.capture.events()[0].text, text);
  EXPECT_EQ(module.capture.trace_texts(), std::vector<std::string>{text});
}

// Only a regular file on disk is read; a name that is not UTF-8 names none.
TEST(unicode_paths, what_is_no_regular_file_is_no_script) {
  unicode_scratch scratch;
  const fs::path elsewhere = scratch.folder(u8"каталог");
  int round = 0;
  for (const std::string& script : {std::string("NUL"), std::string("CON"), utf8(elsewhere)}) {
    SCOPED_TRACE(script);
    const fs::path folder = scratch.folder((u8"日志 " + std::to_string(++round)).c_str());
    write_file(folder / "quillharbor.setting", settings_for(script));
    module_in_folder module(folder);
    EXPECT_EQ(module.load(), FALSE);
    ASSERT_EQ(module.capture.events().size(), 1u);
    EXPECT_EQ(module.capture.events()[0].identifier, 4u);
  }
  EXPECT_FALSE(platform::input_file("\xFF.lua", platform::input_mode::text).is_open());
}

}  // namespace
