#include "filter/operations.h"

#include <limits>
#include <lua.hpp>
#include <new>
#include <sstream>

#include "filter/diagnostics.h"
#include "filter/trace_file.h"
#include "script/counters_api.h"
#include "script/error_text.h"
#include "script/server_variable.h"
#include "script/state_stack.h"
#include "script/time_limit.h"

namespace {

bool any_production_setting(const settings_record& settings) {
  return !settings.trace_path.empty() || settings.queue_limit > 0 || settings.drain_limit > 0 ||
         settings.time_limit > 0 || settings.variable_limit > 0;
}

void count_over_variable_limit(void* counters) noexcept {
  static_cast<filter_counters*>(counters)->count_over_variable_limit();
}

// [ud] -> [ud]
int register_in_state(lua_State* L) {
  register_counters(L, static_cast<const filter_counters*>(lua_touserdata(L, 1)));
  return 0;
}

}  // namespace

void start_operations(filter_state& filter) {
  filter.counters.reset();
  filter.next_drop_trace.store(std::numeric_limits<std::int64_t>::min());
  filter.drain.configure(filter.settings.drain_limit);
  set_variable_reading({static_cast<std::uint32_t>(filter.settings.variable_limit),
                        &count_over_variable_limit, &filter.counters});
  const std::string& path = filter.settings.trace_path;
  if (path.empty() || open_trace_file(path, filter.settings.trace_max_size)) return;
  report_event(event_error, event_trace_file,
               ("quillharbor cannot open the trace file (" + path + ")").c_str());
}

void offer_counters(filter_state& filter) {
  script_state& state = *filter.main_state;
  lua_State* L = state.L;
  // A hook the script set must not see this call: on_init is its first.
  const lua_Hook hook = lua_gethook(L);
  const int mask = lua_gethookmask(L);
  const int count = lua_gethookcount(L);
  lua_sethook(L, nullptr, 0, 0);
  int status = 0;
  {
    // Setting the global allocates, which may run the script's finalisers:
    // script code, bounded as on_init is.
    const callback_deadline deadline(filter.main_state, filter.settings.time_limit);
    status = call_on_state_stack(L, state.stack, register_in_state, &filter.counters);
  }
  lua_sethook(L, hook, mask, count);
  if (status == 0) return;
  if (status == LUA_ERRMEM) {
    lua_settop(L, 0);
    throw std::bad_alloc();
  }
  // A finaliser that raised: the script failed before on_init could run, and
  // the load fails as for an error in on_init.
  std::ostringstream text;
  text << "quillharbor failed to load (script on_init() error)"
       << " code:" << status << " message:" << error_value_text(L, -1);
  lua_settop(L, 0);
  const std::string composed =
      text ? text.str() : std::string("quillharbor failed to load (script on_init() error)");
  debug_trace(composed);
  throw init_error{8, composed};
}

void finish_operations(filter_state& filter, bool unloaded) noexcept {
  if (unloaded && any_production_setting(filter.settings)) {
    try {
      std::string text = counters_text(filter.counters.read(), filter.settings.variable_limit > 0);
      // Lines the trace file could not take up to the end, and whose note never reached it.
      if (const std::uint64_t lost = settle_trace_losses()) text += " trace_lines_lost:" + std::to_string(lost);
      debug_trace(text);
    } catch (...) {
    }
  }
  close_trace_file();
}
