#include "filter/load_filter.h"

#include <cstring>
#include <new>
#include <sstream>

#include "filter/diagnostics.h"
#include "filter/operations.h"
#include "platform/debug_output.h"
#include "platform/dependencies.h"
#include "platform/last_error.h"
#include "script/callbacks.h"
#include "script/time_limit.h"
#include "settings/load_settings.h"
#include "settings/mxml.h"
#include "workqueue/semaphore.h"

namespace {

constexpr DWORD filter_version = 0x00070005;
constexpr DWORD filter_flags =
    SF_NOTIFY_ORDER_LOW | SF_NOTIFY_LOG | SF_NOTIFY_NONSECURE_PORT | SF_NOTIFY_SECURE_PORT;
constexpr char filter_description[] = "quillharbor ISAPI Filter";
constexpr char load_succeeded[] = "quillharbor loaded successfully";

// Failures that no load code names; their identifiers lie above the nine.
constexpr std::int32_t code_out_of_memory = 10;
constexpr std::int32_t code_semaphore = 11;
constexpr std::int32_t code_unexpected = 12;
constexpr std::int32_t code_dependency = 13;
constexpr std::int32_t code_out_of_order = 14;  // a host calling load at the wrong time

void write_version(HTTP_FILTER_VERSION* version) {
  version->dwFilterVersion = filter_version;
  std::strncpy(version->lpszFilterDesc, filter_description, SF_MAX_FILTER_DESC_LEN - 1);
  version->lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
  version->dwFlags = filter_flags;
}

// Opens one state from the script, raising `memory_code` or `syntax_code`; its
// main chunk's run is held to the time limit.
script_state* open_state(const std::string& script_path, std::int32_t memory_code,
                         std::int32_t syntax_code, std::int32_t time_limit) {
  auto* state = new script_state;
  try {
    open_script_state(*state, script_path, time_limit);
  } catch (const script_load_error& e) {
    delete state;  // holds no Lua state: opening failed
    if (e.code == 1) throw init_error{memory_code, "quillharbor failed to load (script memory)"};
    throw init_error{syntax_code, "quillharbor failed to load (script syntax)"};
  } catch (...) {
    delete state;
    throw;
  }
  return state;
}

void read_settings(filter_state& filter) {
  try {
    load_settings(filter.settings);
  } catch (const MXML::SyntaxException&) {
    throw init_error{1, "quillharbor failed to load (xml syntax)"};
  } catch (const load_exception&) {
    throw init_error{2, "quillharbor failed to load (setting)"};
  }
}

void open_states(filter_state& filter) {
  const std::string& path = filter.settings.script_path;
  const std::int32_t limit = filter.settings.time_limit;
  filter.main_state = open_state(path, 3, 4, limit);
  filter.pool_states.reserve(static_cast<std::size_t>(filter.settings.pool_size));
  for (std::int32_t i = 0; i < filter.settings.pool_size; ++i)
    filter.pool_states.push_back(open_state(path, 5, 6, limit));
}

void initialise_script(filter_state& filter) {
  bool ok = false;
  try {
    const callback_deadline deadline(filter.main_state, filter.settings.time_limit);
    ok = run_on_init(*filter.main_state);
  } catch (const script_exec_error& e) {
    std::ostringstream text;
    text << "quillharbor failed to load (script on_init() error)"
         << " code:" << e.code << " message:" << e.message;
    // A stream out of memory cuts the text short: the first piece alone then.
    const std::string composed =
        text ? text.str() : std::string("quillharbor failed to load (script on_init() error)");
    debug_trace(composed);
    throw init_error{8, composed};
  }
  if (!ok) throw init_error{7, "quillharbor failed to load (script on_init() returned false)"};
}

// `settings_read` turns true once the settings are in: from then on a failure
// may leave the filter passing requests through.
void build(filter_state& filter, bool& settings_read) {
  read_settings(filter);
  settings_read = true;
  start_operations(filter);
  // Before the first Lua call: the interpreter may be loaded only now.
  if (const char* missing = platform::load_dependencies())
    throw init_error{code_dependency,
                     std::string("quillharbor failed to load (cannot load ") + missing + ")"};
  open_states(filter);
  offer_counters(filter);
  filter.state_pool = new guarded_queue<script_state>(
      filter.pool_states.data(), filter.pool_states.size(), queue_storage::fixed);
  initialise_script(filter);
  filter.record_queue = new guarded_queue<record>();

  filter.worker = new worker_context;
  filter.worker->record_queue = filter.record_queue;
  filter.worker->main_state = filter.main_state;
  filter.worker->process_interval = &filter.settings.process_interval;
  filter.worker->time_limit = &filter.settings.time_limit;
  filter.worker->drain = &filter.drain;
  filter.worker->counters = &filter.counters;
  filter.worker_thread = start_worker(*filter.worker);
  if (filter.worker_thread == nullptr)
    throw init_error{9, "quillharbor failed to load (thread creation)"};
}

}  // namespace

void close_pool(filter_state& filter) noexcept {
  delete filter.state_pool;
  filter.state_pool = nullptr;
  for (script_state* state : filter.pool_states) close_script_state(state);
  filter.pool_states.clear();
  filter.pool_states.shrink_to_fit();
}

namespace {

// Frees whatever the load built so far, in the order unload would.
void release(filter_state& filter) noexcept {
  delete filter.worker;  // no thread runs on it: Start is the last step
  filter.worker = nullptr;
  delete filter.record_queue;
  filter.record_queue = nullptr;
  close_pool(filter);
  if (filter.main_state != nullptr) close_script_state(filter.main_state);
  filter.main_state = nullptr;
}

// What the web server's own event says of a refused load.
platform::failure_kind failure_kind_of(std::int32_t code) noexcept {
  using kind = platform::failure_kind;
  switch (code) {
    case 1: case 2: case 4: case 6: return kind::invalid_data;
    case 3: case 5: case code_out_of_memory: return kind::out_of_memory;
    case 7: case 8: return kind::init_failed;
    case 9: case code_semaphore: return kind::no_resources;
    case code_dependency: return kind::module_not_found;
    case code_out_of_order: return kind::busy;
    default: return kind::internal;
  }
}

constexpr char passing_through_note[] = " (the filter stays loaded and passes every request through)";

// Under fail_open the same event says that the filter stays; the site then
// keeps serving, unlogged, instead of answering 503.
BOOL fail(filter_state& filter, std::int32_t code, const char* message, bool settings_read) noexcept {
  release(filter);
  const bool stay = settings_read && filter.settings.fail_open;
  if (!stay) filter.gate.end_load(false);
  const char* text = message;
  std::string noted;
  try {
    if (stay) {
      noted = std::string(message) + passing_through_note;
      text = noted.c_str();
    }
  } catch (...) {
    // Out of memory: the failure's own text at least.
  }
  report_event(event_error, static_cast<std::uint32_t>(code), text);
  finish_operations(filter, false);
  platform::stop_debug_output();
  if (stay) {
    filter.passing_through.store(true);
    filter.gate.end_load(true);
    return TRUE;
  }
  platform::set_last_error(failure_kind_of(code));
  return FALSE;
}

// A load while another load, an unload or a stranded unload holds the filter
// state: refused, and that state left as it is.
BOOL refuse(filter_gate::phase found) noexcept {
  using phase = filter_gate::phase;
  const char* why = found == phase::loading     ? "quillharbor failed to load (another load is running)"
                    : found == phase::loaded    ? "quillharbor failed to load (already loaded)"
                    : found == phase::unloading ? "quillharbor failed to load (an unload is running)"
                                                : "quillharbor failed to load (an earlier unload did not finish)";
  report_event(event_error, static_cast<std::uint32_t>(code_out_of_order), why);
  platform::set_last_error(failure_kind_of(code_out_of_order));
  return FALSE;
}

// A second site of the same worker process naming this module: it shares the
// running filter, whose settings come from the same file.
BOOL share(const filter_gate& gate) noexcept {
  try {
    report_event(event_success, 1,
                 ("quillharbor loaded successfully (shares the filter already loaded, and its "
                  "settings: " + std::to_string(gate.loads()) + " loads)").c_str());
  } catch (...) {
    report_event(event_success, 1, load_succeeded);
  }
  return TRUE;
}

}  // namespace

BOOL load_filter(filter_state& filter, HTTP_FILTER_VERSION* version) noexcept {
  write_version(version);
  filter_gate::phase found;
  if (!filter.gate.begin_load(found)) {
    if (found == filter_gate::phase::loaded && filter.gate.share_load(found)) return share(filter.gate);
    return refuse(found);
  }
  // No thread of the web server waits for a debugger listener to take a line.
  platform::start_debug_output();
  bool settings_read = false;
  try {
    build(filter, settings_read);
  } catch (const init_error& e) {
    return fail(filter, e.code, e.message.c_str(), settings_read);
  } catch (const std::bad_alloc&) {
    return fail(filter, code_out_of_memory, "quillharbor failed to load (out of memory)", settings_read);
  } catch (const threadutil::semaphore_error&) {
    return fail(filter, code_semaphore, "quillharbor failed to load (the system refused a semaphore)",
                settings_read);
  } catch (...) {
    return fail(filter, code_unexpected, "quillharbor failed to load (unexpected error)", settings_read);
  }
  filter.gate.end_load(true);
  report_event(event_success, 1, load_succeeded);
  return TRUE;
}
