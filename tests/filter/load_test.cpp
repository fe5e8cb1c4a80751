#include <cstring>
#include <filesystem>

#include "tests/filter/filter_fixture.h"

namespace {

using load_test = filter_fixture;

const char* const well_behaved = R"(
function on_init() return true end
function on_enqueue(h) return false end
function on_dequeue(fields, n) end
function on_term() return true end
)";

TEST_F(load_test, success_writes_the_version_record_and_one_success_event) {
  ASSERT_EQ(load(well_behaved), TRUE);
  EXPECT_EQ(version.dwFilterVersion, 0x00070005u);
  EXPECT_EQ(version.dwFlags, 0x00020203u);
  EXPECT_STREQ(version.lpszFilterDesc, "quillharbor ISAPI Filter");
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].type, 0);
  EXPECT_EQ(events()[0].identifier, 1u);
  EXPECT_EQ(events()[0].text, "quillharbor loaded successfully");
  EXPECT_TRUE(traces().empty());
  EXPECT_EQ(module->terminate_filter(0), TRUE);
}

TEST_F(load_test, every_state_runs_the_main_chunk_and_only_the_main_state_runs_on_init) {
  ASSERT_EQ(load(R"(
    ndebug("chunk")
    function on_init() ndebug("init") return true end
    function on_term() return true end
  )", 3), TRUE);
  EXPECT_EQ(traces(), (std::vector<std::string>{"chunk", "chunk", "chunk", "chunk", "init"}));
  EXPECT_EQ(module->terminate_filter(0), TRUE);
}

struct load_failure {
  const char* name;
  const char* settings;  // null: settings naming script.lua
  const char* script;
  unsigned code;
  const char* text;
};

class load_failure_test : public filter_fixture,
                          public ::testing::WithParamInterface<load_failure> {};

TEST_P(load_failure_test, ends_in_one_error_event_and_false) {
  const load_failure& c = GetParam();
  memset(&version, 0xcc, sizeof version);
  const auto script = dir.write("script.lua", c.script);
  if (c.settings != nullptr) {
    std::string settings = c.settings;
    const auto at = settings.find("SCRIPT");
    if (at != std::string::npos) settings.replace(at, 6, script.string());
    dir.write("quillharbor.setting", settings);
  } else {
    dir.write("quillharbor.setting", settings_text(script, 2));
  }
  EXPECT_EQ(load_with_settings_only(), FALSE);

  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].type, 1);
  EXPECT_EQ(events()[0].identifier, c.code);
  EXPECT_EQ(events()[0].text, c.text);
  // The version record is written whatever the outcome.
  EXPECT_EQ(version.dwFilterVersion, 0x00070005u);
  EXPECT_EQ(version.dwFlags, 0x00020203u);
  EXPECT_STREQ(version.lpszFilterDesc, "quillharbor ISAPI Filter");
  // Nothing is left loaded.
  EXPECT_EQ(module->terminate_filter(0), FALSE);
}

const load_failure load_failures[] = {
    {"missing_settings_file", "", "", 1, "quillharbor failed to load (xml syntax)"},
    {"broken_xml", "<setting><queue></setting>", "", 1, "quillharbor failed to load (xml syntax)"},
    {"wrong_root", "<Setting/>", "", 2, "quillharbor failed to load (setting)"},
    {"no_script_path", "<setting/>", "", 4, "quillharbor failed to load (script syntax)"},
    {"main_state_syntax", nullptr, "function (", 4, "quillharbor failed to load (script syntax)"},
    {"main_chunk_raises", nullptr, "error('no')", 4, "quillharbor failed to load (script syntax)"},
    {"on_init_false", nullptr, "function on_init() return false end", 7,
     "quillharbor failed to load (script on_init() returned false)"},
    {"on_init_nothing", nullptr, "function on_init() end", 7,
     "quillharbor failed to load (script on_init() returned false)"},
    {"on_init_missing", nullptr, "", 8,
     "quillharbor failed to load (script on_init() error) code:2 message:attempt to call a nil "
     "value"},
    {"on_init_raises", nullptr, "function on_init() error('boom', 0) end", 8,
     "quillharbor failed to load (script on_init() error) code:2 message:boom"},
};

INSTANTIATE_TEST_SUITE_P(codes, load_failure_test, ::testing::ValuesIn(load_failures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(load_test, missing_settings_file_is_a_syntax_failure) {
  // No settings file at all, not even an empty one.
  EXPECT_EQ(load_with_settings_only(), FALSE);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].identifier, 1u);
}

TEST_F(load_test, on_init_error_traces_the_event_text_first) {
  EXPECT_EQ(load("function on_init() error('boom', 0) end"), FALSE);
  const std::string text = "quillharbor failed to load (script on_init() error) code:2 message:boom";
  EXPECT_EQ(traces(), std::vector<std::string>{text});
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].text, text);
}

TEST_F(load_test, a_failing_pool_state_closes_every_state_opened_before_it) {
  // Each state counts itself in a file; the fourth (pool state 2) fails. A
  // finalizer records every state that is closed.
  const auto count = dir.path() / "count";
  const auto closed = dir.path() / "closed";
  EXPECT_EQ(load("local f = io.open('" + count.generic_string() + "', 'a+') f:write('x') f:close()\n"
                 "local n = #io.open('" + count.generic_string() + "'):read('*a')\n"
                 "if n == 4 then error('third pool state') end\n"
                 "guard = newproxy(true)\n"
                 "getmetatable(guard).__gc = function()\n"
                 "  local f = io.open('" + closed.generic_string() + "', 'a') f:write(n, ' ') f:close()\n"
                 "end\n"
                 "function on_init() return true end\n",
                 3),
            FALSE);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].identifier, 6u);
  EXPECT_EQ(events()[0].text, "quillharbor failed to load (script syntax)");
  EXPECT_EQ(dir.read("closed"), "2 3 1 ");  // pool states in index order, then the main state
}

TEST_F(load_test, terminate_without_a_load_returns_false) {
  dir.write("quillharbor.setting", "<setting/>");
  module = std::make_unique<loaded_module>(dir.path());
  EXPECT_EQ(module->terminate_filter(0), FALSE);
  EXPECT_TRUE(events().empty());
}

TEST_F(load_test, the_module_reads_the_settings_beside_its_own_copy) {
  scratch_directory other;
  const auto script = other.write("s.lua", "function on_init() ndebug('here') return true end\n"
                                           "function on_term() return true end");
  other.write("quillharbor.setting", settings_text(script, 1));
  dir.write("quillharbor.setting", "<wrong/>");
  module = std::make_unique<loaded_module>(other.path());
  EXPECT_EQ(module->get_filter_version(&version), TRUE);
  EXPECT_EQ(traces(), std::vector<std::string>{"here"});
  EXPECT_EQ(module->terminate_filter(0), TRUE);
}

}  // namespace
