// Settings files of every broken kind, read by the loaded module: each ends in
// one event and the documented result, quickly and without exhausting memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/reliability/reliability_fixture.h"

namespace {

namespace fs = std::filesystem;

const char* const good_script = R"(
function on_init() return true end
function on_enqueue(h) return false end
function on_dequeue(f, n) end
function on_term() return true end
)";

std::string laughs(const std::string& use) {
  std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE setting [\n<!ENTITY lol0 \"lol\">\n";
  for (int i = 1; i <= 9; ++i) {
    text += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) text += "&lol" + std::to_string(i - 1) + ";";
    text += "\">\n";
  }
  return text + "]>\n" + use;
}

std::string nested(int depth, bool closed) {
  std::string text = "<setting>";
  for (int i = 0; i < depth; ++i) text += "<a>";
  if (closed) {
    for (int i = 0; i < depth; ++i) text += "</a>";
    text += "<script path=\"SCRIPT\" pool_size=\"2\"/></setting>";
  }
  return text;
}

std::string utf16le(const std::string& ascii) {
  std::string text = "\xFF\xFE";
  for (char c : ascii) {
    text += c;
    text += '\0';
  }
  return text;
}

const std::string good = "<setting><script path=\"SCRIPT\" pool_size=\"2\"/></setting>";

struct broken_settings {
  const char* name;
  std::function<std::string()> content;  // "SCRIPT" stands for the script's path
  unsigned code;                         // 0: the load succeeds
};

const broken_settings cases[] = {
    {"laughs_in_an_attribute",
     [] { return laughs("<setting><script path=\"&lol9;\" pool_size=\"2\"/></setting>"); }, 1},
    {"laughs_in_text", [] { return laughs("<setting>&lol9;</setting>"); }, 1},
    {"external_entity_in_an_attribute",
     [] {
       return "<!DOCTYPE setting [<!ENTITY x SYSTEM \"/etc/passwd\">]>"
              "<setting><script path=\"&x;\"/></setting>";
     },
     1},
    {"undefined_entity", [] { return std::string("<setting>&nothing;</setting>"); }, 1},
    {"deep_nesting_unclosed", [] { return nested(200000, false); }, 1},
    // 140000 levels: 980 KB, just within the settings file's limit of 1 MiB.
    {"deep_nesting_closed", [] { return nested(140000, true); }, 0},
    {"ten_thousand_script_elements",
     [] {
       std::string text = "<setting>";
       for (int i = 0; i < 10000; ++i) text += "<script path=\"SCRIPT\" pool_size=\"2\"/>";
       return text + "</setting>";
     },
     0},
    {"invalid_utf8_byte", [] { return std::string("<setting><script path=\"\xFF\"/></setting>"); }, 1},
    {"overlong_utf8", [] { return std::string("<setting><script path=\"\xC0\xAF\"/></setting>"); }, 1},
    {"surrogate_in_utf8",
     [] { return std::string("<setting><script path=\"\xED\xA0\x80\"/></setting>"); }, 1},
    {"cut_multibyte_at_end", [] { return std::string("<setting/><!-- \xE2\x82"); }, 1},
    {"nul_byte_inside", [] { return std::string("<setting>\0</setting>", 20); }, 1},
    {"unsupported_encoding",
     [] { return "<?xml version=\"1.0\" encoding=\"UTF-7\"?>" + good; }, 1},
    {"utf16_declared_ascii_given",
     [] { return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + good; }, 1},
    {"utf16_with_byte_order_mark", [] { return utf16le(good); }, 0},
    {"byte_order_mark_only", [] { return std::string("\xEF\xBB\xBF"); }, 1},
    {"empty", [] { return std::string(); }, 1},
    {"wrong_root_after_a_doctype",
     [] { return std::string("<!DOCTYPE setting><Setting/>"); }, 2},
    // Just under the settings file's limit of 1 MiB.
    {"near_megabyte_path",
     [] { return "<setting><script path=\"" + std::string((1 << 20) - 64, 'p') + "\"/></setting>"; }, 4},
};

class broken_settings_test : public reliability_fixture,
                             public ::testing::WithParamInterface<broken_settings> {};

TEST_P(broken_settings_test, ends_in_one_event) {
  const auto script = dir.write("script.lua", good_script);
  std::string content = GetParam().content();
  for (auto at = content.find("SCRIPT"); at != std::string::npos; at = content.find("SCRIPT"))
    content.replace(at, 6, script.string());
  // A document in UTF-16 names the path in UTF-16 too.
  const std::string wide_marker = utf16le("SCRIPT").substr(2);
  for (auto at = content.find(wide_marker); at != std::string::npos; at = content.find(wide_marker))
    content.replace(at, wide_marker.size(), utf16le(script.string()).substr(2));
  dir.write("quillharbor.setting", content);
  const unsigned code = GetParam().code;
  EXPECT_EQ(load_as_is(), code == 0 ? TRUE : FALSE);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].type, code == 0 ? 0 : 1);
  EXPECT_EQ(events()[0].identifier, code == 0 ? 1u : code) << events()[0].text;
  EXPECT_EQ(unload(), code == 0 ? TRUE : FALSE);
}

INSTANTIATE_TEST_SUITE_P(kinds, broken_settings_test, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

struct placed_file {
  const char* name;
  std::function<void(const fs::path&)> place;
};

class settings_in_place_test : public reliability_fixture,
                               public ::testing::WithParamInterface<placed_file> {};

// Whatever lies where the file should be, the load fails as for a missing file.
TEST_P(settings_in_place_test, is_read_as_no_document) {
  GetParam().place(dir.path() / "quillharbor.setting");
  EXPECT_EQ(load_as_is(), FALSE);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].identifier, 1u);
  EXPECT_EQ(events()[0].text, "quillharbor failed to load (xml syntax)");
}

INSTANTIATE_TEST_SUITE_P(
    kinds, settings_in_place_test,
    ::testing::Values(
        placed_file{"directory", [](const fs::path& p) { fs::create_directory(p); }},
        placed_file{"dangling_link",
                    [](const fs::path& p) { fs::create_symlink(p.parent_path() / "nowhere", p); }},
        placed_file{"link_to_endless_zeros",
                    [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        placed_file{"link_to_endless_noise",
                    [](const fs::path& p) { fs::create_symlink("/dev/urandom", p); }}),
    [](const auto& info) { return std::string(info.param.name); });

// A pool size that no memory can hold ends in a failure event, not in the
// process running out. Loaded in a child whose address space is capped at
// 256 MiB above what it already uses; the exit status is the failure event's
// identifier, 98 for an exception, 99 for any other outcome.
class capped_pool_test : public reliability_fixture,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(capped_pool_test, fails_the_load_with_an_event) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve more address space than the cap";
#endif
  const auto script = dir.write("script.lua", good_script);
  dir.write("quillharbor.setting", "<setting><script path=\"" + script.string() +
                                       "\" pool_size=\"" + GetParam() + "\"/></setting>");
  open_module();
  std::ifstream statm("/proc/self/statm");
  unsigned long pages = 0;
  statm >> pages;
  const rlim_t cap = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (256u << 20);
  const pid_t child = ::fork();
  if (child == 0) {
    int status = 99;
    try {
      const rlimit limit{cap, cap};
      ::setrlimit(RLIMIT_AS, &limit);
      const BOOL loaded = module->get_filter_version(&version);
      const auto written = events();
      if (loaded == FALSE && written.size() == 1 && written[0].type == 1)
        status = static_cast<int>(written[0].identifier);
    } catch (...) {
      status = 98;
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  // 10: the pool-state array or a state object could not be had; 5 or 6: a
  // Lua state could not be made or could not run the script.
  const int code = WEXITSTATUS(status);
  EXPECT_TRUE(code == 10 || code == 5 || code == 6) << code;
}

INSTANTIATE_TEST_SUITE_P(sizes, capped_pool_test, ::testing::Values("2147483647", "100000"));

}  // namespace
