// os.date against the interpreter's own, its use from several threads, and
// the standard functions that would reach the web server's whole process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "script_fixture.h"

namespace {

// Runs `chunk` and gives its first result as text, with tables shown key by key.
const char* const describe =
    "local function describe(ok, v)\n"
    "  if type(v) ~= 'table' then return tostring(ok) .. ' ' .. type(v) .. ' ' .. tostring(v) end\n"
    "  local keys, out = {}, {}\n"
    "  for k in pairs(v) do keys[#keys + 1] = k end\n"
    "  table.sort(keys)\n"
    "  for _, k in ipairs(keys) do out[#out + 1] = k .. '=' .. tostring(v[k]) end\n"
    "  return tostring(ok) .. ' {' .. table.concat(out, ',') .. '}'\n"
    "end\n"
    "return describe(pcall(function() return os.date(";

std::string in_plain_interpreter(const std::string& chunk) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  std::string result = luaL_dostring(L, chunk.c_str()) == 0 ? lua_tostring(L, -1) : "chunk failed";
  lua_close(L);
  return result;
}

void set_tz(const char* value) {  // null: unset
#ifdef _WIN32
  _putenv_s("TZ", value == nullptr ? "" : value);
#else
  if (value == nullptr) unsetenv("TZ");
  else setenv("TZ", value, 1);
#endif
}

class zone {
 public:
  explicit zone(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    set_tz(tz);
  }
  ~zone() { set_tz(had_ ? old_.c_str() : nullptr); }
  zone(const zone&) = delete;
  zone& operator=(const zone&) = delete;

 private:
  bool had_;
  std::string old_;
};

TEST(os_date, gives_the_interpreters_own_results) {
  std::vector<std::string> arguments = {
      "", "nil", "'*t'", "'!*t'", "'!'", "''", "'%'", "'%%'", "'abc%'", "'!%Y-%m-%d %H:%M:%S'",
      "'%c', 0", "'!%c', 0", "'*t', 1e9", "'!*t', -1", "'*t', 1234567890.75", "'!*t', 2^40",
      "'!%Y', 1e300", "'!%Y', -1e300", "'%Y', 0/0", "'!%H', '3600'", "nil, 86400", "12",
      "'a\\0b %Y', 0", "'%c', 'x'", "'%c', {}", "{}", "'!%'", "'!x%%y%%%'",
      "'*t', 1215302400", "'%H:%M %Z', 1215302400", "string.rep('%A', 300), 0",
      "string.rep('x', 10000), 0",
  };
#ifdef _WIN32
  // The C run time's strftime stops the process at conversions it does not know.
  const std::string conversions = "aAbBcdHIjmMpSUwWxXyYZ";
#else
  std::string conversions = " 5%";  // and every letter
  for (char c = 'A'; c <= 'z'; ++c) {
    if (c <= 'Z' || c >= 'a') conversions += c;
  }
#endif
  for (char c : conversions) {
    arguments.push_back(std::string("'%") + c + "', 1215302400");
    arguments.push_back(std::string("'!%") + c + "', 86400 * 400");
  }
  opened_script s("");
  for (const char* tz : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
    const zone in_zone(tz);
    for (const std::string& args : arguments) {
      const std::string chunk = describe + args + ") end))";
      // Calls without a time take the clock's: a tick between them is retried.
      std::string ours, theirs;
      for (int attempt = 0; attempt < 3; ++attempt) {
        ours = s.eval(chunk);
        theirs = in_plain_interpreter(chunk);
        if (ours == theirs) break;
      }
      EXPECT_EQ(ours, theirs) << tz << " os.date(" << args << ")";
    }
  }
}

// Each thread's dates lie in years of its own; a Lua calendar checks every one.
TEST(os_date, keeps_each_states_dates_apart_on_many_threads) {
  const char* const check =
      "local function civil(t)\n"
      "  local days, secs = math.floor(t / 86400), t % 86400\n"
      "  local z = days + 719468\n"
      "  local era = math.floor(z / 146097)\n"
      "  local doe = z - era * 146097\n"
      "  local yoe = math.floor((doe - math.floor(doe / 1460) + math.floor(doe / 36524) - math.floor(doe / 146096)) / 365)\n"
      "  local doy = doe - (365 * yoe + math.floor(yoe / 4) - math.floor(yoe / 100))\n"
      "  local mp = math.floor((5 * doy + 2) / 153)\n"
      "  local d = doy - math.floor((153 * mp + 2) / 5) + 1\n"
      "  local m = mp < 10 and mp + 3 or mp - 9\n"
      "  local y = yoe + era * 400 + (m <= 2 and 1 or 0)\n"
      "  return string.format('%04d-%02d-%02d %02d:%02d:%02d', y, m, d,\n"
      "    math.floor(secs / 3600), math.floor(secs / 60) % 60, secs % 60)\n"
      "end\n"
      "local bad = 0\n"
      "for i = 1, 20000 do\n"
      "  local t = base + i * 7777\n"
      "  local tt = os.date('!*t', t)\n"
      "  local text = string.format('%04d-%02d-%02d %02d:%02d:%02d', tt.year, tt.month, tt.day, tt.hour, tt.min, tt.sec)\n"
      "  if os.date('!%Y-%m-%d %H:%M:%S', t) ~= civil(t) or text ~= civil(t) then bad = bad + 1 end\n"
      "end\n"
      "return bad";
  opened_script first("base = 0");
  opened_script second("base = 4000000000");
  std::string first_bad, second_bad;
  std::thread other([&] { second_bad = second.eval(check); });
  first_bad = first.eval(check);
  other.join();
  EXPECT_EQ(first_bad, "0");
  EXPECT_EQ(second_bad, "0");
}

struct guard_case {
  const char* chunk;
  const char* result;
};

TEST(process_guards, keep_the_script_off_the_whole_process) {
  const guard_case cases[] = {
      {"return select(2, pcall(os.exit, 7))", "os.exit is not available inside the filter"},
      {"return select(2, pcall(os.exit))", "os.exit is not available inside the filter"},
      {"return os.setlocale()", "C"},
      {"return os.setlocale(nil, 'numeric')", "C"},
      {"return select(2, pcall(os.setlocale, 'de_DE.UTF-8'))",
       "os.setlocale can only query the locale inside the filter"},
      {"return select(2, pcall(os.setlocale, 'C', 'numeric'))",
       "os.setlocale can only query the locale inside the filter"},
      {"return select(2, pcall(os.setlocale, '', 'all'))",
       "os.setlocale can only query the locale inside the filter"},
      {"return select(2, pcall(os.setlocale, nil, 'weather'))",
       "bad argument #2 to '?' (invalid option 'weather')"},
      {"return tonumber('2.5') * 2", "5"},
      {"return select(2, pcall(lfs.chdir, '/'))", "lfs.chdir is not available inside the filter"},
      {"return require('lfs').chdir == lfs.chdir", "true"},
      {"return lfs.currentdir() == START", "true"},
  };
  opened_script s("START = lfs.currentdir()");
  for (const guard_case& c : cases) EXPECT_EQ(s.eval(c.chunk), c.result) << c.chunk;
}

}  // namespace
