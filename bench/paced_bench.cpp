// The real module at a steady 1,000 notifications per second, one request
// thread: CPU of the whole process per request, how long a record waits
// between being queued and reaching on_dequeue, and how often threads slept.
// Then the same module left idle after a burst: what it spends doing nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/bench_scale.h"
#include "bench/process_usage.h"
#include "bench/reference.h"
#include "host/filter_module.h"
#include "host/staged_module.h"

namespace {

using steady = std::chrono::steady_clock;

long long now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now().time_since_epoch())
      .count();
}

// The reference script with one more field, the moment of queueing, which
// on_dequeue hands back through ndebug, so that the trace outlet sees it.
const char timed_script[] = R"lua(
function on_init() return true end
function on_term() return true end

function on_enqueue(handle)
  local request = enqueue_context.new(handle)
  return true, {
    server = request:server_variable("SERVER_NAME"),
    url = request:server_variable("URL"),
    client = request:server_variable("REMOTE_ADDR"),
    status = request:http_status(),
    win32_status = request:win32_status(),
    bytes_sent = request:bytes_sent(),
    bytes_recvd = request:bytes_recvd(),
    time_taken = request:process_time(),
    queued = request:server_variable("QUEUED_AT"),
  }
end

function on_dequeue(fields, record_number)
  ndebug("queued:" .. fields.queued)
end
)lua";

// The reference request, answering QUEUED_AT with the steady clock in ns.
struct timed_request : reference_request {
  timed_request() {
    plain = context.GetServerVariable;
    context.GetServerVariable = &answer;
  }
  static BOOL WINAPI answer(HTTP_FILTER_CONTEXT* context, LPSTR name, LPVOID buffer, LPDWORD size) {
    if (std::strcmp(name, "QUEUED_AT") != 0) return plain(context, name, buffer, size);
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%lld", now_ns());
    if (static_cast<DWORD>(length) + 1 > *size) return FALSE;
    std::memcpy(buffer, text, static_cast<std::size_t>(length) + 1);
    *size = static_cast<DWORD>(length) + 1;
    return TRUE;
  }
  static inline decltype(HTTP_FILTER_CONTEXT::GetServerVariable) plain = nullptr;
};

// The module loaded with the timed script; the trace outlet, which runs on the
// worker inside on_dequeue, notes each record's wait.
class timed_filter {
 public:
  explicit timed_filter(const std::string& script_path)
      : staged_(QUILLHARBOR_MODULE_PATH, settings_document(script_path, 0, 1)),
        module_(std::make_unique<filter_module>(staged_.module_path())) {
    module_->set_outlets(&timed_filter::on_event, &timed_filter::on_trace, this);
    waits_ns_.reserve(bench_paced + 1);
  }
  ~timed_filter() { module_.reset(); }
  timed_filter(const timed_filter&) = delete;
  timed_filter& operator=(const timed_filter&) = delete;

  bool load() {
    HTTP_FILTER_VERSION version{};
    return module_->get_filter_version(&version) != FALSE;
  }
  bool terminate() { return module_->terminate_filter(0) != FALSE; }
  void notify(timed_request& request) {
    module_->http_filter_proc(&request.context, SF_NOTIFY_LOG, &request.log);
  }
  // Read only after terminate.
  std::vector<double>& waits_ns() { return waits_ns_; }
  long failures() const { return failures_; }

 private:
  static void QUILLHARBOR_CALL on_event(void*, unsigned short, unsigned int, const char*) {}
  // "[thread] queued:<ns>\n"; anything else is a script failure.
  static void QUILLHARBOR_CALL on_trace(void* self, const char* line) {
    const long long at = now_ns();
    auto& filter = *static_cast<timed_filter*>(self);
    const char* mark = std::strstr(line, "queued:");
    if (mark == nullptr) {
      ++filter.failures_;
      return;
    }
    filter.waits_ns_.push_back(static_cast<double>(at - std::atoll(mark + 7)));
  }

  staged_module staged_;
  std::unique_ptr<filter_module> module_;
  std::vector<double> waits_ns_;  // written by the worker only
  long failures_ = 0;
};

class timed_script_file {
 public:
  timed_script_file() : path_(directory_.path() + "/timed.lua") {
    std::ofstream out(path_, std::ios::binary);
    out << timed_script;
    if (!out) throw std::runtime_error("cannot write " + path_);
  }
  const std::string& path() const { return path_; }

 private:
  script_directory directory_;
  std::string path_;
};

double quantile(std::vector<double>& values, double q) {
  const auto n = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(n), values.end());
  return values[n];
}

void BM_paced_1000_per_second(benchmark::State& state) {
  timed_script_file script;
  timed_filter filter(script.path());
  timed_request request;
  process_usage used;
  for (auto _ : state) {
    if (!filter.load()) {
      state.SkipWithError("GetFilterVersion failed");
      return;
    }
    const process_usage before = process_usage::now();
    const auto start = steady::now();
    for (std::size_t i = 0; i < bench_paced; ++i) {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
      filter.notify(request);
    }
    filter.terminate();
    used = process_usage::now() - before;
    state.SetIterationTime(used.cpu_seconds);
  }
  std::vector<double>& waits = filter.waits_ns();
  if (filter.failures() != 0 || waits.size() != bench_paced) {
    state.SkipWithError("records went missing or the script failed");
    return;
  }
  const double requests = static_cast<double>(bench_paced);
  state.counters["cpu_ns_per_request"] = used.cpu_seconds * 1e9 / requests;
  state.counters["sleeps_per_request"] = static_cast<double>(used.voluntary_switches) / requests;
  state.counters["wait_median_us"] = quantile(waits, 0.5) / 1e3;
  state.counters["wait_p99_us"] = quantile(waits, 0.99) / 1e3;
  state.counters["wait_max_us"] = *std::max_element(waits.begin(), waits.end()) / 1e3;
}

// A burst, so that the worker has just been busy, then nothing: the process's
// CPU and its threads' sleeps over the idle time. Both are the worker's, save
// the one sleep of this thread.
void BM_idle_after_burst(benchmark::State& state) {
  timed_script_file script;
  timed_filter filter(script.path());
  timed_request request;
  process_usage used;
  for (auto _ : state) {
    if (!filter.load()) {
      state.SkipWithError("GetFilterVersion failed");
      return;
    }
    for (std::size_t i = 0; i < bench_paced; ++i) filter.notify(request);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // drained
    const process_usage before = process_usage::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(bench_idle_seconds));
    used = process_usage::now() - before;
    filter.terminate();
    state.SetIterationTime(bench_idle_seconds);
  }
  state.counters["idle_cpu_us"] = used.cpu_seconds * 1e6;
  state.counters["idle_sleeps"] = static_cast<double>(used.voluntary_switches);
  state.counters["idle_seconds"] = bench_idle_seconds;
}

}  // namespace

BENCHMARK(BM_paced_1000_per_second)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_idle_after_burst)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
