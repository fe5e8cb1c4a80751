#include "filter/operations.h"

#include <limits>
#include <lua.hpp>
#include <new>

#include "filter/diagnostics.h"
#include "filter/trace_file.h"
#include "script/counters_api.h"

namespace {

bool any_production_setting(const settings_record& settings) {
  return !settings.trace_path.empty() || settings.queue_limit > 0 || settings.drain_limit > 0 ||
         settings.time_limit > 0;
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
  const std::string& path = filter.settings.trace_path;
  if (path.empty() || open_trace_file(path, filter.settings.trace_max_size)) return;
  report_event(event_error, event_trace_file,
               ("quillharbor cannot open the trace file (" + path + ")").c_str());
}

void offer_counters(filter_state& filter) {
  lua_State* L = filter.main_state->L;
  // A hook the script set must not see this call: on_init is its first.
  const lua_Hook hook = lua_gethook(L);
  const int mask = lua_gethookmask(L);
  const int count = lua_gethookcount(L);
  lua_sethook(L, nullptr, 0, 0);
  const int status = lua_cpcall(L, register_in_state, &filter.counters);
  lua_sethook(L, hook, mask, count);
  if (status != 0) {
    // Only memory can fail here: the global is set raw.
    lua_settop(L, 0);
    throw std::bad_alloc();
  }
}

void finish_operations(filter_state& filter, bool unloaded) noexcept {
  if (unloaded && any_production_setting(filter.settings)) {
    try {
      std::string text = counters_text(filter.counters.read());
      // Lines the trace file could not take up to the end, and whose note never reached it.
      if (const std::uint64_t lost = settle_trace_losses()) text += " trace_lines_lost:" + std::to_string(lost);
      debug_trace(text);
    } catch (...) {
    }
  }
  close_trace_file();
}
