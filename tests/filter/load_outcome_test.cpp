// What a web server sees of a failed load and of a failing unload: fail_open,
// the thread's last error, and unload's trace line.
#include <cerrno>
#include <string>
#include <vector>

#include "tests/filter/filter_fixture.h"

namespace {

using load_outcome_test = filter_fixture;

// The calling thread's last error, where a web server reads it.
int last_error() {
#ifdef _WIN32
  return static_cast<int>(::GetLastError());
#else
  return errno;
#endif
}

void clear_last_error() {
#ifdef _WIN32
  ::SetLastError(0);
#else
  errno = 0;
#endif
}

#ifdef _WIN32
constexpr int invalid_data = ERROR_INVALID_DATA;
constexpr int init_failed = ERROR_DLL_INIT_FAILED;
#else
constexpr int invalid_data = EINVAL;
constexpr int init_failed = ECANCELED;
#endif

const std::string term = "function on_term() return true end\n";
const std::string quiet_enqueue = "function on_enqueue(h) ndebug('enqueue') return true, {} end\n";

struct failure_case {
  const char* name;
  std::string script;  // "" for no script file at all
  std::uint32_t code;
  std::string text;  // the event's text as without fail_open
  int error;         // the last error when refused
};

void PrintTo(const failure_case& c, std::ostream* out) { *out << c.name; }

std::vector<failure_case> failure_cases() {
  return {
      {"no_script", "", 4, "quillharbor failed to load (script syntax)", invalid_data},
      {"on_init_false", "function on_init() return false end\n" + quiet_enqueue + term, 7,
       "quillharbor failed to load (script on_init() returned false)", init_failed},
      {"on_init_error", "function on_init() error('no log file', 0) end\n" + quiet_enqueue + term, 8,
       "quillharbor failed to load (script on_init() error) code:2 message:no log file", init_failed},
      // Fails in the second state only: the first one's main chunk ran already.
      {"pool_state_syntax",
       "n = (n or 0) + 1\nlocal f = io.open(SCRIPT_DIR .. 'count', 'a') f:write('x') f:close()\n"
       "f = io.open(SCRIPT_DIR .. 'count') local seen = #f:read('*a') f:close()\n"
       "if seen == 2 then error('second state', 0) end\n"
       "function on_init() return true end\n" + quiet_enqueue + term,
       6, "quillharbor failed to load (script syntax)", invalid_data},
  };
}

class fail_open_test : public filter_fixture,
                       public ::testing::WithParamInterface<std::tuple<failure_case, const char*>> {
 protected:
  BOOL load_case() {
    const failure_case& c = std::get<0>(GetParam());
    const std::string script =
        "SCRIPT_DIR = '" + dir.path().generic_string() + "/'\n" + c.script;
    const auto path = c.script.empty() ? dir.path() / "missing.lua" : dir.write("script.lua", script);
    std::string settings = settings_text(path, 2);
    const char* fail_open = std::get<1>(GetParam());
    if (fail_open != nullptr)
      settings.insert(settings.find("</setting>"), std::string("  <filter fail_open=\"") + fail_open + "\"/>\n");
    dir.write("quillharbor.setting", settings);
    module = std::make_unique<loaded_module>(dir.path());
    clear_last_error();
    return module->get_filter_version(&version);
  }
};

// With fail_open on, every load failure after the settings leaves a filter
// that passes requests through; otherwise the load is refused with a last error.
TEST_P(fail_open_test, a_failed_load_stays_loaded_only_when_asked) {
  const failure_case& c = std::get<0>(GetParam());
  const char* fail_open = std::get<1>(GetParam());
  const bool stays = fail_open != nullptr && (std::string(fail_open) == "true" || std::string(fail_open) == "1");
  const BOOL loaded = load_case();
  const int error = last_error();
  const auto got = events();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].type, 1);
  EXPECT_EQ(got[0].identifier, c.code);
  if (!stays) {
    EXPECT_EQ(loaded, FALSE);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(got[0].text, c.text);
    EXPECT_EQ(module->terminate_filter(0), FALSE);
    return;
  }
  EXPECT_EQ(loaded, TRUE);
  EXPECT_EQ(got[0].text, c.text + " (the filter stays loaded and passes every request through)");
  const auto traced_at_load = traces();
  fake_request request;
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(notify(request), static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  EXPECT_EQ(traces(), traced_at_load);  // no script ran, and nothing was left to release
  EXPECT_EQ(module->terminate_filter(0), FALSE);
}

INSTANTIATE_TEST_SUITE_P(
    failures, fail_open_test,
    ::testing::Combine(::testing::ValuesIn(failure_cases()),
                       ::testing::Values("true", "1", "yes", "", nullptr)),
    [](const auto& info) {
      const char* value = std::get<1>(info.param);
      const std::string shown = value == nullptr ? "absent" : *value == '\0' ? "empty" : value;
      return std::string(std::get<0>(info.param).name) + "_fail_open_" + shown;
    });

// A settings file that cannot be read cannot say fail_open: still refused.
TEST_F(load_outcome_test, unreadable_settings_refuse_even_with_fail_open) {
  dir.write("quillharbor.setting", "<setting><filter fail_open=\"true\"/><script path=\"x\"");
  clear_last_error();
  EXPECT_EQ(load_with_settings_only(), FALSE);
  EXPECT_EQ(last_error(), invalid_data);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].identifier, 1u);
  EXPECT_EQ(events()[0].text, "quillharbor failed to load (xml syntax)");
}

struct unload_case {
  const char* name;
  const char* on_term;
  BOOL result;
  std::vector<std::string> traces;
};

void PrintTo(const unload_case& c, std::ostream* out) { *out << c.name; }

class unload_line_test : public filter_fixture, public ::testing::WithParamInterface<unload_case> {};

// The web server ignores TerminateFilter's result: a FALSE one is also said.
TEST_P(unload_line_test, a_failing_unload_says_why_in_one_line) {
  const unload_case& c = GetParam();
  ASSERT_EQ(load(std::string("function on_init() return true end\n") + c.on_term), TRUE);
  EXPECT_EQ(module->terminate_filter(0), c.result);
  EXPECT_EQ(traces(), c.traces);
}

INSTANTIATE_TEST_SUITE_P(
    on_term, unload_line_test,
    ::testing::Values(
        unload_case{"true", "function on_term() return true end", TRUE, {}},
        unload_case{"false", "function on_term() return false end", FALSE,
                    {"quillharbor failed to unload (script on_term() returned false)"}},
        unload_case{"missing", "", FALSE,
                    {"quillharbor failed to unload (script on_term() error code:2 message:attempt to "
                     "call a nil value)"}},
        unload_case{"raising", "function on_term() error('cannot flush', 0) end", FALSE,
                    {"quillharbor failed to unload (script on_term() error code:2 message:cannot flush)"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
