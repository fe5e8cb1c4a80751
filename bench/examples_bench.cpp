// The worker's CPU per record for each shipped example's on_dequeue, against
// the same example with an empty on_dequeue: the records are made by the
// example's own on_enqueue from one realistic request (eight server variables,
// a query that differs from record to record), queued beforehand, and drained
// by the module's worker. examples/syslog sends to a TCP collector of the
// benchmark's own on 127.0.0.1 that reads and discards (its CPU is counted
// too). QUILLHARBOR_EXAMPLES=DIR measures the examples of another folder.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "bench/in_process.h"
#include "platform/temp_directory.h"
#include "script/callbacks.h"

namespace {

namespace fs = std::filesystem;

std::atomic<unsigned> query_counter{0};

BOOL WINAPI realistic_variable(HTTP_FILTER_CONTEXT*, LPSTR name, LPVOID buffer, LPDWORD size) {
  static const char* const fixed[][2] = {
      {"REQUEST_METHOD", "GET"},
      {"URL", "/api/orders/details"},
      {"REMOTE_ADDR", "203.0.113.54"},
      {"REMOTE_USER", "alice"},
      {"HTTP_HOST", "www.example.com"},
      {"HTTP_USER_AGENT",
       "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/131.0.0.0 Safari/537.36 Edg/131.0.0.0"},
      {"HTTP_REFERER", "https://www.google.com/"},
  };
  std::string value;
  if (std::strcmp(name, "QUERY_STRING") == 0) value = "id=" + std::to_string(query_counter++);
  for (const auto& v : fixed)
    if (std::strcmp(v[0], name) == 0) value = v[1];
  if (value.empty()) return FALSE;
  if (value.size() + 1 > *size) return FALSE;
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  *size = static_cast<DWORD>(value.size() + 1);
  return TRUE;
}

// A collector that takes one connection at a time and discards what comes.
class discard_collector {
 public:
  discard_collector() : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 4) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      char buffer[65536];
      for (int c; (c = ::accept(listener_, nullptr, nullptr)) >= 0; ::close(c))
        while (::recv(c, buffer, sizeof buffer, 0) > 0) {
        }
    });
  }
  ~discard_collector() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  int port() const { return port_; }

 private:
  int listener_;
  int port_ = 0;
  std::thread thread_;
};

// The example's script in a scratch directory (also the current directory,
// where its files go), with the collector's port, and with on_dequeue made
// empty when `bare`.
std::string example_copy(const std::string& name, bool bare, const std::string& directory, int port) {
  const char* other = std::getenv("QUILLHARBOR_EXAMPLES");  // another copy of the examples
  const std::string examples = other != nullptr ? other : QUILLHARBOR_EXAMPLES_DIR;
  std::ifstream in(examples + "/" + name + "/" + name + ".lua", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string script = text.str();
  const auto set = [&script](const std::string& setting, const std::string& value) {
    const std::size_t at = script.find("local " + setting + " = ");
    if (at == std::string::npos) return;
    const std::size_t from = at + setting.size() + 9;
    script.replace(from, script.find_first_of(" \n", from) - from, value);
  };
  set("COLLECTOR_PORT", std::to_string(port));
  set("REPORT", "\"summary.txt\"");  // not the benchmark's standard output
  if (bare) script += "\nfunction on_dequeue(fields, n) end\n";
  const std::string path = (fs::path(directory) / (name + ".lua")).string();
  std::ofstream(path, std::ios::binary) << script;
  return path;
}

void BM_example_dequeue(benchmark::State& state, const char* name, bool bare) {
  const discard_collector collector;
  const std::string directory = platform::make_temp_directory("quillharbor-bench-example-");
  const fs::path was = fs::current_path();
  fs::current_path(directory);
  {
    const std::string path = example_copy(name, bare, directory, collector.port());
    open_state main_state(path);
    open_state pool_state(path);
    reference_request request;
    request.context.GetServerVariable = &realistic_variable;
    request.log.msTimeForProcessing = 2500;  // slow_requests keeps only slow ones
    if (!run_on_init(main_state.get())) state.SkipWithError("on_init refused");
    drain_batches(state, main_state.get(), pool_state.get(), request);
    run_on_term(main_state.get());
  }
  fs::current_path(was);
  fs::remove_all(directory);
  state.SetItemsProcessed(state.iterations());
}

// The request thread's CPU per request for the same example's on_enqueue: the
// examples make their text there, so a record's cost is both figures.
void BM_example_enqueue(benchmark::State& state, const char* name) {
  const std::string directory = platform::make_temp_directory("quillharbor-bench-example-");
  {
    open_state pool_state(example_copy(name, false, directory, 514));
    reference_request request;
    request.context.GetServerVariable = &realistic_variable;
    request.log.msTimeForProcessing = 2500;
    request_handle handle{&request.context, &request.log};
    for (auto _ : state) {
      record* made = nullptr;
      if (run_on_enqueue(pool_state.get(), &handle, made)) delete made;
    }
  }
  fs::remove_all(directory);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

#define EXAMPLE_BENCHMARKS(NAME)                                                              \
  BENCHMARK_CAPTURE(BM_example_dequeue, NAME, #NAME, false)->MeasureProcessCPUTime()->UseRealTime(); \
  BENCHMARK_CAPTURE(BM_example_dequeue, NAME##_bare, #NAME, true)->MeasureProcessCPUTime()->UseRealTime(); \
  BENCHMARK_CAPTURE(BM_example_enqueue, NAME, #NAME)

EXAMPLE_BENCHMARKS(jsonl);
EXAMPLE_BENCHMARKS(syslog);
EXAMPLE_BENCHMARKS(summary);
EXAMPLE_BENCHMARKS(slow_requests);
