// For every allocation of each scenario, a child process in which exactly that
// allocation fails: the process stays alive, the entry point gives its
// documented result, nothing leaks, and the module works again afterwards.
//
// Scenarios, run in this order in every child: load with pool_size 2, one
// notification that keeps an 8-field record, that record through the worker,
// unload. Only the scenario under test has a failing allocation. Two more
// fail the allocations of a notification whose on_enqueue raises and of a load
// whose on_init raises. Two runs of 200 notifications, with pool_size 1 and 3,
// then check that every pool state came back and a last notification returns.
#include <dlfcn.h>
#include <fcntl.h>
#include <httpfilt.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "quillharbor/outlets.h"
#include "tests/reliability/failing_allocator.h"

namespace {

namespace fs = std::filesystem;
using failing_allocator::counted_threads;

const char* const script = R"(
function on_init()
  if os.getenv('QUILLHARBOR_SWEEP_RAISE') then error('raised', 0) end
  return true
end
function on_enqueue(h)
  local c = enqueue_context.new(h)
  local status = c:http_status()
  if status == 500 then error('raised', 0) end
  if status == 204 then return true, {quiet = 'q', a = c:server_variable('A')} end
  if status == 205 then c:server_variable('HOLD') return false end
  return true, {a = c:server_variable('A'), b = c:http_status(), c = c:win32_status(),
                d = c:bytes_sent(), e = c:bytes_recvd(), f = c:process_time(),
                g = 'seven', h = 8}
end
function on_dequeue(fields, n)
  if fields.quiet then return end
  local count = 0
  for k, v in pairs(fields) do count = count + 1 end
  ndebug('dequeue ' .. n .. ' ' .. count)
end
function on_term() return true end
)";

const char* const delivered = "dequeue 0 8";

// The only lines a lack of memory may leave, each whole.
const char* const enqueue_failures[] = {"error: on_enqueue code:4 message:not enough memory",
                                        "error: on_enqueue message:not enough memory"};
const char* const dequeue_failures[] = {"error: on_dequeue code:4 message:not enough memory",
                                        "error: on_dequeue message:not enough memory"};
const char* const load_texts[] = {
    "quillharbor loaded successfully",
    "quillharbor failed to load (xml syntax)",
    "quillharbor failed to load (setting)",
    "quillharbor failed to load (script memory)",
    "quillharbor failed to load (script syntax)",
    "quillharbor failed to load (script on_init() returned false)",
    "quillharbor failed to load (script on_init() error) code:4 message:not enough memory",
    "quillharbor failed to load (script on_init() error) code:2 message:raised",
    "quillharbor failed to load (script on_init() error)",
    "quillharbor failed to load (thread creation)",
    "quillharbor failed to load (out of memory)",
    "quillharbor failed to load (the system refused a semaphore)",
};

template <std::size_t n>
bool one_of(const char* text, const char* const (&texts)[n]) {
  for (const char* known : texts)
    if (std::strcmp(text, known) == 0) return true;
  return false;
}

// What the module wrote, kept without allocating: the outlets run inside
// scenarios whose allocations are being failed.
struct outlets_seen {
  static constexpr int capacity = 16;
  static constexpr int text_size = 240;
  std::atomic<int> events{0};
  unsigned event_type[capacity];
  unsigned event_id[capacity];
  char event_text[capacity][text_size];
  std::atomic<int> traces{0};
  char trace_text[capacity][text_size];

  void clear() {
    events = 0;
    traces = 0;
  }
  static void keep(char (&out)[text_size], const char* text) {
    std::snprintf(out, text_size, "%s", text);
  }
  static void QUILLHARBOR_CALL on_event(void* self, unsigned short type, unsigned int id,
                                        const char* text) {
    auto& seen = *static_cast<outlets_seen*>(self);
    const int at = seen.events++;
    if (at >= capacity) return;
    seen.event_type[at] = type;
    seen.event_id[at] = id;
    keep(seen.event_text[at], text);
  }
  static void QUILLHARBOR_CALL on_trace(void* self, const char* line) {
    auto& seen = *static_cast<outlets_seen*>(self);
    const int at = seen.traces++;
    if (at >= capacity) return;
    const char* text = std::strstr(line, "] ");
    keep(seen.trace_text[at], text != nullptr ? text + 2 : line);
    char* end = std::strchr(seen.trace_text[at], '\n');
    if (end != nullptr) *end = '\0';
  }
  bool trace_is(int at, const char* text) const {
    return at < traces && std::strcmp(trace_text[at], text) == 0;
  }
  template <std::size_t n>
  bool trace_one_of(int at, const char* const (&texts)[n]) const {
    return at < traces && one_of(trace_text[at], texts);
  }
};

outlets_seen seen;

struct module_entry_points {
  BOOL(WINAPI* get_filter_version)(HTTP_FILTER_VERSION*);
  DWORD(WINAPI* http_filter_proc)(HTTP_FILTER_CONTEXT*, DWORD, void*);
  BOOL(WINAPI* terminate_filter)(DWORD);
};
module_entry_points module;

// The request, made before any window so that answering costs no allocation.
HTTP_FILTER_CONTEXT context{};
HTTP_FILTER_LOG log_record{};
HTTP_FILTER_LOG raising_record{};  // status 500: on_enqueue raises
HTTP_FILTER_LOG quiet_record{};    // status 204: a record on_dequeue passes over
HTTP_FILTER_LOG holding_record{};  // status 205: on_enqueue holds its state in HOLD

// Notifications inside HOLD; each stays there, holding its pool state, until release.
std::atomic<int> holding{0};
std::atomic<bool> release{false};

BOOL WINAPI get_server_variable(HTTP_FILTER_CONTEXT*, LPSTR name, LPVOID buffer, LPDWORD size) {
  if (std::strcmp(name, "HOLD") == 0) {
    ++holding;
    while (!release) std::this_thread::yield();
    return FALSE;
  }
  if (std::strcmp(name, "A") != 0 || *size < 6) return FALSE;
  std::memcpy(buffer, "alpha", 6);
  *size = 6;
  return TRUE;
}

enum class scenario {
  load, notification, worker, unload, raising_notification, raising_load, run_pool_1, run_pool_3
};
const char* const scenario_names[] = {"load",   "notification",         "worker",
                                      "unload", "raising notification", "raising on_init",
                                      "run, pool 1", "run, pool 3"};
constexpr int scenario_count = 8;
constexpr int run_length = 200;

int pool_size_of(scenario tested) {
  if (tested == scenario::run_pool_1) return 1;
  return tested == scenario::run_pool_3 ? 3 : 2;
}

// The script and the settings beside the module.
std::string script_path;
std::string settings_file;
void write_settings(int pool_size) {
  std::ofstream(settings_file) << "<setting><script path=\"" << script_path << "\" pool_size=\""
                               << pool_size << "\"/></setting>";
}

// What a child reports to the sweep through shared memory.
struct child_report {
  std::uint64_t counted;
  std::uint64_t counted_new;
  bool failure_happened;
  char problem[400];
  char outcome[240];  // what the tested scenario ended in, for the tally
};
child_report* report = nullptr;

[[noreturn]] void fail(const char* what, const char* detail = "") {
  std::snprintf(report->problem, sizeof report->problem, "%s%s%s", what, *detail ? ": " : "",
                detail);
  if (std::getenv("SWEEP_ONLY") != nullptr) std::printf("%s\n", report->problem);
  _exit(3);
}

void expect(bool holds, const char* what, const char* detail = "") {
  if (!holds) fail(what, detail);
}

// Live blocks when the child started. The count, not the marks, decides: a
// load replaces the settings record's script path, one block for another.
std::size_t blocks_at_start = 0;

// The process's standard files that were open when the child started; a
// state closed after a failure must not close them.
bool standard_open[3];

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

void expect_no_leak(const char* when) {
  for (int fd = 0; fd < 3; ++fd)
    if (standard_open[fd] && !is_open(fd)) fail(when, "a standard file of the process was closed");
  const std::size_t live = failing_allocator::live_blocks();
  if (live == blocks_at_start) return;
  std::uint64_t first = 0;
  const std::size_t marked = failing_allocator::marked_live_blocks(&first);
  char detail[160];
  std::snprintf(detail, sizeof detail,
                "%zu blocks live, %zu at the start; of the child's own %zu, the first was its "
                "%llu-th allocation",
                live, blocks_at_start, marked, static_cast<unsigned long long>(first));
  fail(when, detail);
}

DWORD notify() { return module.http_filter_proc(&context, SF_NOTIFY_LOG, &log_record); }

// Load, notification and unload with nothing failing; the module must work.
void clean_cycle(const char* when) {
  seen.clear();
  HTTP_FILTER_VERSION version{};
  expect(module.get_filter_version(&version) == TRUE, when, "load failed");
  notify();
  expect(module.terminate_filter(0) == TRUE, when, "unload failed");
  expect(seen.traces == 1 && seen.trace_is(0, delivered), when, "the record did not arrive");
}

// Exactly the N-th allocation fails, or the N-th and every later one.
bool persistent = false;

// Runs `step` in a window that fails the fail_at-th allocation when `armed`.
template <class Step>
auto in_window(bool armed, counted_threads threads, std::uint64_t fail_at, Step step) {
  if (armed) failing_allocator::open_window(threads, fail_at, persistent);
  auto result = step();
  if (armed) {
    failing_allocator::close_window();
    report->counted = failing_allocator::counted();
    report->counted_new = failing_allocator::counted_new();
    report->failure_happened = failing_allocator::failure_happened();
  }
  return result;
}

void run_notifications(scenario tested, std::uint64_t fail_at);

void run_child(scenario tested, std::uint64_t fail_at) {
  seen.clear();
  write_settings(pool_size_of(tested));
  // Before the count: the C library keeps an environment string once set.
  if (tested == scenario::raising_load) ::setenv("QUILLHARBOR_SWEEP_RAISE", "1", 1);
  blocks_at_start = failing_allocator::live_blocks();
  for (int fd = 0; fd < 3; ++fd) standard_open[fd] = is_open(fd);
  // Marks every block from here on, to name the first of a leak.
  failing_allocator::open_window(counted_threads::this_thread, 0);
  failing_allocator::close_window();

  HTTP_FILTER_VERSION version{};
  if (tested == scenario::run_pool_1 || tested == scenario::run_pool_3) {
    run_notifications(tested, fail_at);
    return;
  }
  if (tested == scenario::raising_load) {
    in_window(true, counted_threads::this_thread, fail_at,
              [&] { return module.get_filter_version(&version); });
    expect(seen.events == 1 && seen.event_type[0] == 1 && one_of(seen.event_text[0], load_texts),
           "raising on_init", seen.event_text[0]);
    if (seen.event_id[0] == 8)
      expect(seen.trace_is(0, seen.event_text[0]) || seen.traces == 0, "raising on_init",
             "code 8 with another trace line");
    std::snprintf(report->outcome, sizeof report->outcome, "%s", seen.event_text[0]);
    expect(module.terminate_filter(0) == FALSE, "unload after a failed load");
    ::unsetenv("QUILLHARBOR_SWEEP_RAISE");
    expect_no_leak("raising on_init");
    clean_cycle("after a raising on_init");
    expect_no_leak("after a raising on_init");
    return;
  }
  const BOOL loaded = in_window(tested == scenario::load, counted_threads::this_thread, fail_at,
                                [&] { return module.get_filter_version(&version); });
  expect(seen.events == 1, "load", "not exactly one event");
  if (tested == scenario::load)
    std::snprintf(report->outcome, sizeof report->outcome, "%s", seen.event_text[0]);
  expect(one_of(seen.event_text[0], load_texts), "load event", seen.event_text[0]);
  if (loaded == FALSE) {
    expect(seen.event_type[0] == 1 && seen.event_id[0] >= 1 && seen.event_id[0] <= 12,
           "failed load", seen.event_text[0]);
    // Code 8 traces its text first, unless the line is what memory failed.
    if (seen.event_id[0] == 8)
      expect(seen.trace_is(0, seen.event_text[0]) || seen.traces == 0, "failed load",
             "code 8 with another trace line");
    expect(module.terminate_filter(0) == FALSE, "unload after a failed load");
    expect_no_leak("failed load");
    clean_cycle("after a failed load");
    expect_no_leak("after a failed load");
    return;
  }
  expect(seen.event_type[0] == 0 && seen.event_id[0] == 1, "load", seen.event_text[0]);
  expect(seen.traces == 0, "load", "a trace line");

  if (tested == scenario::raising_notification) {
    in_window(true, counted_threads::this_thread, fail_at,
              [] { return module.http_filter_proc(&context, SF_NOTIFY_LOG, &raising_record); });
    // The script's own line, or one for the lack of memory, or none when the
    // line itself could not be composed.
    const bool line = seen.traces == 1;
    expect(seen.traces == 0 || (line && (seen.trace_is(0, "error: on_enqueue code:2 message:raised") ||
                                         seen.trace_one_of(0, enqueue_failures))),
           "raising notification", line ? seen.trace_text[0] : "");
    std::snprintf(report->outcome, sizeof report->outcome, "%s",
                  line ? seen.trace_text[0] : "(no trace line)");
    seen.traces = 0;
  }
  // The worker's window opens first: on_dequeue may run as soon as the record is queued.
  if (tested == scenario::worker)
    failing_allocator::open_window(counted_threads::other_threads, fail_at, persistent);
  const DWORD status = in_window(tested == scenario::notification, counted_threads::this_thread,
                                 fail_at, [] { return notify(); });
  expect(status == SF_STATUS_REQ_NEXT_NOTIFICATION, "notification", "wrong status");
  const BOOL unloaded = in_window(tested == scenario::unload, counted_threads::this_thread, fail_at,
                                  [] { return module.terminate_filter(0); });
  if (tested == scenario::worker) {
    failing_allocator::close_window();
    report->counted = failing_allocator::counted();
    report->counted_new = failing_allocator::counted_new();
    report->failure_happened = failing_allocator::failure_happened();
  }

  if (tested == scenario::unload)
    std::snprintf(report->outcome, sizeof report->outcome, "unload %s",
                  unloaded == TRUE ? "TRUE" : "FALSE");
  else if (tested != scenario::load && tested != scenario::raising_notification)
    std::snprintf(report->outcome, sizeof report->outcome, "%s",
                  seen.traces > 0 ? seen.trace_text[0] : "(no trace line)");
  switch (tested) {
    case scenario::load:
      expect(unloaded == TRUE && seen.traces == 1 && seen.trace_is(0, delivered), "after load",
             "the module does not work");
      break;
    case scenario::notification:
      // Kept whole, or dropped with one whole line saying why; when memory
      // stays short, the line may be lost too.
      expect(unloaded == TRUE, "unload after the notification");
      expect((seen.traces == 1 && (seen.trace_is(0, delivered) ||
                                   seen.trace_one_of(0, enqueue_failures))) ||
                 (persistent && seen.traces == 0),
             "notification", seen.traces > 0 ? seen.trace_text[0] : "no trace line");
      break;
    case scenario::worker:
      // Delivered, or dropped with one line; the delivery's own line may be
      // the one that could not be composed.
      expect(unloaded == TRUE, "unload after the worker");
      expect(seen.traces == 0 ||
                 (seen.traces == 1 && (seen.trace_is(0, delivered) ||
                                       seen.trace_one_of(0, dequeue_failures))),
             "worker", seen.traces > 0 ? seen.trace_text[0] : "");
      break;
    case scenario::unload:
      // FALSE only when on_term itself failed, and then one more line says so.
      expect(seen.trace_is(0, delivered) &&
                 (seen.traces == 1 ||
                  (unloaded == FALSE && seen.traces == 2 &&
                   std::strncmp(seen.trace_text[1], "quillharbor failed to unload (", 30) == 0)),
             "unload", "the record was lost");
      break;
    case scenario::raising_load:
    case scenario::run_pool_1:
    case scenario::run_pool_3:
      break;  // ended above
    case scenario::raising_notification:
      // The state stays in service: the next notification's record arrives.
      expect(unloaded == TRUE && seen.traces == 1 && seen.trace_is(0, delivered),
             "after the raising notification", "the next record was lost");
      break;
  }
  expect(seen.events == 1, "after load", "an extra event");
  expect_no_leak(scenario_names[static_cast<int>(tested)]);
  clean_cycle("afterwards");
  expect_no_leak("afterwards");
}

// Every pool state is lent at once, each notification holding its own: a
// state that did not come back leaves one of them waiting in take.
void expect_every_state_back(int pool_size) {
  holding = 0;
  release = false;
  std::vector<std::thread> holders;
  for (int i = 0; i < pool_size; ++i)
    holders.emplace_back([] { module.http_filter_proc(&context, SF_NOTIFY_LOG, &holding_record); });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (holding < pool_size && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (holding < pool_size) fail("run", "a pool state did not come back to the pool");
  release = true;
  for (auto& holder : holders) holder.join();
}

// A run of notifications on this thread in which the fail_at-th allocation
// fails: each returns, every state comes back and the module works on.
void run_notifications(scenario tested, std::uint64_t fail_at) {
  HTTP_FILTER_VERSION version{};
  expect(module.get_filter_version(&version) == TRUE, "run", "load failed");
  in_window(true, counted_threads::this_thread, fail_at, [] {
    for (int i = 0; i < run_length; ++i)
      expect(module.http_filter_proc(&context, SF_NOTIFY_LOG, &quiet_record) ==
                 SF_STATUS_REQ_NEXT_NOTIFICATION, "run", "wrong status");
    return 0;
  });
  // A record dropped for lack of memory costs one whole line, or none.
  const int lines = std::min(seen.traces.load(), outlets_seen::capacity);
  for (int at = 0; at < lines; ++at)
    expect(seen.trace_one_of(at, enqueue_failures), "run", seen.trace_text[at]);
  std::snprintf(report->outcome, sizeof report->outcome, "%s",
                seen.traces == 0 ? "(no trace line)"
                                 : seen.traces == 1 ? seen.trace_text[0] : "(several lines)");
  expect_every_state_back(pool_size_of(tested));
  seen.clear();
  notify();
  expect(module.terminate_filter(0) == TRUE, "run", "unload failed");
  // Numbered after the run's records that reached the worker.
  const char* const last = seen.trace_text[0];
  expect(seen.traces == 1 && std::strncmp(last, "dequeue ", 8) == 0 &&
             std::strcmp(last + std::strlen(last) - 2, " 8") == 0,
         "run", "the last notification's record did not arrive");
  expect_no_leak("run");
  clean_cycle("after a run");
  expect_no_leak("after a run");
}

struct sweep_result {
  std::uint64_t points = 0;      // allocations failed, one per child
  std::uint64_t by_new = 0;      // of the scenario's allocations, through operator new
  std::uint64_t problems = 0;
  std::map<std::string, std::uint64_t> outcomes;
};

// The points tried: every allocation, except when every later one fails too
// in a run of notifications. A run's allocations repeat with each notification
// (about five each), and from the first failing point on every later one
// fails as well, so neighbouring points differ only in where the failures
// begin: every point of the first notifications, then every 7th, a stride that
// shares no factor with a notification's count and so begins the failures at
// every place within a notification. The run's rare points (collection steps,
// growth of the interpreter's tables) are each tried alone in the other pass.
constexpr std::uint64_t run_dense_points = 80;
constexpr std::uint64_t run_stride = 7;

std::uint64_t next_point(scenario tested, std::uint64_t n) {
  const bool run = tested == scenario::run_pool_1 || tested == scenario::run_pool_3;
  if (!run || !persistent || n < run_dense_points) return n + 1;
  return n + run_stride;
}

sweep_result sweep(scenario tested, std::uint64_t limit) {
  sweep_result result;
  for (std::uint64_t n = 1; n <= limit; n = next_point(tested, n)) {
    std::memset(report, 0, sizeof *report);
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0) {
      std::perror("fork");
      std::exit(2);
    }
    if (child == 0) {
      ::alarm(60);  // a child that hangs is reported, not waited for
      run_child(tested, n);
      _exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!report->failure_happened && WIFEXITED(status) && WEXITSTATUS(status) == 3 &&
        n > 1) {
      // No allocation failed, yet the child found a fault: not the sweep's to count.
      std::printf("  %s: fails without a failing allocation: %s\n",
                  scenario_names[static_cast<int>(tested)], report->problem);
      ++result.problems;
      break;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !report->failure_happened) {
      result.by_new = report->counted_new;
      break;  // the scenario has fewer than n allocations: all swept
    }
    ++result.points;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      ++result.outcomes[report->outcome];
      continue;
    }
    ++result.problems;
    if (WIFSIGNALED(status)) {
      std::printf("  %s, allocation %llu: died of signal %d\n", scenario_names[static_cast<int>(tested)],
                  static_cast<unsigned long long>(n), WTERMSIG(status));
    } else {
      std::printf("  %s, allocation %llu: %s\n", scenario_names[static_cast<int>(tested)],
                  static_cast<unsigned long long>(n),
                  WEXITSTATUS(status) == 3 ? report->problem : "exited unexpectedly");
    }
    std::fflush(stdout);
  }
  return result;
}

void* entry(void* library, const char* name) {
  void* found = ::dlsym(library, name);
  if (found == nullptr) {
    std::fprintf(stderr, "the module lacks %s\n", name);
    std::exit(2);
  }
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  // Optional: the largest allocation number to try per scenario, and the first
  // scenario to sweep.
  const std::uint64_t limit = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const int first_scenario = argc > 2 ? std::atoi(argv[2]) : 0;

  const fs::path dir = fs::temp_directory_path() / ("quillharbor-sweep-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path copy = dir / fs::path(QUILLHARBOR_MODULE_PATH).filename();
  fs::copy_file(QUILLHARBOR_MODULE_PATH, copy, fs::copy_options::overwrite_existing);
  std::ofstream(dir / "script.lua") << script;
  script_path = (dir / "script.lua").string();
  settings_file = (dir / "quillharbor.setting").string();
  write_settings(2);

  void* library = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "%s\n", ::dlerror());
    return 2;
  }
  module.get_filter_version =
      reinterpret_cast<decltype(module.get_filter_version)>(entry(library, "GetFilterVersion"));
  module.http_filter_proc =
      reinterpret_cast<decltype(module.http_filter_proc)>(entry(library, "HttpFilterProc"));
  module.terminate_filter =
      reinterpret_cast<decltype(module.terminate_filter)>(entry(library, "TerminateFilter"));
  reinterpret_cast<quillharbor_set_outlets_fn>(entry(library, QUILLHARBOR_SET_OUTLETS_SYMBOL))(
      &outlets_seen::on_event, &outlets_seen::on_trace, &seen);

  context.cbSize = sizeof context;
  context.GetServerVariable = get_server_variable;
  log_record.dwHttpStatus = 200;
  log_record.dwBytesSent = 1234;
  raising_record.dwHttpStatus = 500;
  quiet_record.dwHttpStatus = 204;
  holding_record.dwHttpStatus = 205;

  report = static_cast<child_report*>(
      ::mmap(nullptr, sizeof(child_report), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  // One clean cycle first: what the C library and the thread machinery set up
  // once per process (stdio, thread stacks) is then no leak of a child's.
  report->problem[0] = '\0';
  clean_cycle("warm-up");
  // Likewise the threads that hold every state of a pool of 3 at once.
  write_settings(3);
  HTTP_FILTER_VERSION version{};
  module.get_filter_version(&version);
  expect_every_state_back(3);
  module.terminate_filter(0);

  // One child in this process, for a debugger or valgrind (with
  // --soname-synonyms=somalloc=nouserintercepts, so that this allocator stays):
  // SWEEP_ONLY=<scenario 0-7>,<N>[,persistent].
  if (const char* only = std::getenv("SWEEP_ONLY")) {
    int tested = 0;
    unsigned long long n = 0;
    char rest[16] = "";
    std::sscanf(only, "%d,%llu,%15s", &tested, &n, rest);
    persistent = std::strcmp(rest, "persistent") == 0;
    run_child(static_cast<scenario>(tested), n);
    std::printf("passed: %s%s; %llu allocations counted\n", report->outcome,
                report->failure_happened ? "" : " (no allocation failed)",
                static_cast<unsigned long long>(report->counted));
    return 0;
  }
  std::uint64_t total_problems = 0, total_points = 0;
  const auto started = std::chrono::steady_clock::now();
  for (int pass = 0; pass < 2; ++pass) {
  persistent = pass == 1;
  std::printf("== %s\n", persistent ? "the N-th allocation and every later one fail"
                                      : "exactly the N-th allocation fails");
  for (int s = first_scenario; s < scenario_count; ++s) {
    // Failing for good, a raising on_init is reached only as the plain load is.
    if (persistent && static_cast<scenario>(s) == scenario::raising_load) continue;
    const auto scenario_started = std::chrono::steady_clock::now();
    const sweep_result result = sweep(static_cast<scenario>(s), limit);
    const auto scenario_seconds = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - scenario_started).count() / 1000.0;
    std::printf("%-12s %6llu allocations failed one at a time (%llu by operator new), %llu problems, %.1f s\n",
                scenario_names[s], static_cast<unsigned long long>(result.points),
                static_cast<unsigned long long>(result.by_new),
                static_cast<unsigned long long>(result.problems), scenario_seconds);
    std::fflush(stdout);
    for (const auto& outcome : result.outcomes)
      std::printf("  %6llu x %s\n", static_cast<unsigned long long>(outcome.second),
                  outcome.first.c_str());
    total_points += result.points;
    total_problems += result.problems;
  }
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::steady_clock::now() - started).count();
  std::printf("swept %llu allocation points in %lld s\n",
              static_cast<unsigned long long>(total_points), static_cast<long long>(seconds));
  std::printf("%llu passed, %llu failed\n",
              static_cast<unsigned long long>(total_points - total_problems),
              static_cast<unsigned long long>(total_problems));
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return total_problems == 0 ? 0 : 1;
}
