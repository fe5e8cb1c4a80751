#include "host/replay.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "host/filter_module.h"
#include "host/log_reader.h"
#include "host/module_choice.h"
#include "host/pacer.h"
#include "host/replay_console.h"
#include "host/replay_inputs.h"
#include "host/replay_request.h"
#include "host/request_pool.h"
#include "platform/terminal.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Where the module's outlets lead; outlives every call of them.
struct outlet_sink {
  outlet_sink(replay_console& c, bool q) : console(c), quiet(q) {}
  replay_console& console;
  bool quiet;
  std::atomic<std::uint64_t> events{0};
  std::atomic<std::uint64_t> trace_lines{0};
  std::mutex last_event_mutex;
  std::string last_event;
};

void QUILLHARBOR_CALL on_event(void* context, unsigned short type, unsigned int identifier,
                               const char* text) {
  auto& sink = *static_cast<outlet_sink*>(context);
  sink.events.fetch_add(1);
  try {
    const std::string kind = type == 0 ? "success" : type == 1 ? "error" : "type " + std::to_string(type);
    const std::string line = "event " + kind + " " + std::to_string(identifier) + ": " + (text ? text : "");
    {
      std::lock_guard<std::mutex> lock(sink.last_event_mutex);
      sink.last_event = line;
    }
    sink.console.line(line);
  } catch (...) {
    // An outlet never throws into the module.
  }
}

void QUILLHARBOR_CALL on_trace(void* context, const char* line) {
  auto& sink = *static_cast<outlet_sink*>(context);
  sink.trace_lines.fetch_add(1);
  if (sink.quiet) return;
  try {
    sink.console.line(std::string("trace ") + (line ? line : ""));
  } catch (...) {
    // An outlet never throws into the module.
  }
}

bool progress_wanted(progress_mode mode) {
  if (mode == progress_mode::automatic) return platform::is_terminal(platform::standard_stream::error);
  return mode == progress_mode::on;
}

unsigned thread_count(unsigned asked) {
  if (asked > 0) return asked;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 4;
}

// A guess at what an input of which nothing could be replayed holds.
std::string hint_for(const log_reader& reader, const input_summary& input) {
  if (reader.began_as_gzip()) return "gzip data? give the file by name, or decompress it first";
  if (reader.used_default_fields()) return "W3C without #Fields? give its fields with --fields";
  if (!input.first_skips.empty() && input.first_skips.front().find("not a web server log") != std::string::npos)
    return std::string();
  if (reader.format() == log_format::ncsa) return "not an NCSA log? --format w3c reads it as W3C";
  return "not a web server log?";
}

// Reads every input, sending one notification per request line.
void feed(replay_inputs& inputs, const replay_options& options, request_pool& pool,
          replay_console& console, replay_summary& s) {
  constexpr std::size_t reasons_kept = 3;
  pacer pace(options.rate);
  log_entry entry;
  line_result result;
  std::unique_ptr<replay_request> request;  // to fill; kept over a line it refused
  std::string warning;
  std::uint64_t bytes_before = 0;
  for (auto& input : inputs.inputs) {
    log_reader reader(*input.stream, options.format,
                      options.fields.empty() ? iis_default_fields : options.fields);
    const std::string name = input.name == "-" ? "(standard input)" : input.name;
    s.per_input.push_back({name, 0, 0, {}, {}, {}});
    input_summary& is = s.per_input.back();
    while (reader.next(entry, result)) {
      ++s.lines_read;
      if (reader.take_warning(warning))
        console.line(name + ":" + std::to_string(reader.line_number()) + ": " + warning);
      if (result.kind == line_kind::request) {
        if (!request) request = pool.spare();
        if (!request->fill(entry, result.problem)) result.kind = line_kind::malformed;
      }
      switch (result.kind) {
        case line_kind::request:
          ++s.requests;
          ++is.requests;
          pace.wait_turn();
          pool.submit(std::move(request));
          // A pipe's lines go out as they come, not when a block is full.
          if (input.file == nullptr && input.stream->rdbuf()->in_avail() <= 0) pool.flush();
          break;
        case line_kind::directive: ++s.directives; break;
        case line_kind::blank: ++s.blank; break;
        case line_kind::malformed:
          if (s.skipped < options.report_limit)
            console.line(name + ":" + std::to_string(reader.line_number()) + ": skipped: " + result.problem);
          else if (s.skipped == options.report_limit)
            console.line("further malformed lines are skipped and counted without a report");
          ++s.skipped;
          if (is.skipped++ < reasons_kept)
            is.first_skips.push_back("line " + std::to_string(reader.line_number()) + ": " + result.problem);
          break;
      }
      if ((s.lines_read & 255) == 0)
        console.progress(bytes_before + reader.bytes_read(), inputs.total_bytes, s.lines_read);
    }
    is.error = read_error(input);
    if (!is.error.empty())
      console.line(name + ":" + std::to_string(reader.line_number()) + ": input ended early: " + is.error);
    if (input_failed(is) && is.error.empty()) is.hint = hint_for(reader, is);
    bytes_before += reader.bytes_read();
    s.bytes_read = bytes_before;
  }
}

// Sends every request of the inputs to a loaded filter, then unloads it.
int replay_loaded(const filter_module& module, replay_inputs& inputs, const replay_options& options,
                  replay_console& console, replay_summary& s) {
  int status = exit_ok;
  const auto replay_started = clock_type::now();
  try {
    // Leaving this block joins the request threads, so every notification
    // has returned before TerminateFilter, as the web server guarantees.
    // Paced notifications leave one by one, each at its moment.
    request_pool pool(module.http_filter_proc, thread_count(options.threads),
                      options.rate > 0 ? 1 : request_pool::default_block);
    s.threads = pool.threads();
    try {
      feed(inputs, options, pool, console, s);
    } catch (...) {
      pool.finish();
      s.notifications = pool.sent();
      throw;
    }
    pool.finish();
    s.notifications = pool.sent();
  } catch (const std::exception& error) {
    console.line(std::string("quillharbor-replay: replay stopped early: ") + error.what());
    status = exit_filter_failed;
  }
  s.replay_seconds = seconds_since(replay_started);
  const auto unload_started = clock_type::now();
  s.unload_called = true;
  s.unload_ok = module.terminate_filter(0) != FALSE;
  s.unload_seconds = seconds_since(unload_started);
  return status;
}

}  // namespace

int run_replay(const replay_options& options, std::istream& in, std::ostream& err,
               replay_summary* summary_out) {
  const auto started = clock_type::now();
  replay_summary s;
  replay_console console(err, progress_wanted(options.progress));

  replay_inputs inputs = open_inputs(options.inputs, in);
  if (!inputs.error.empty()) {
    console.line("quillharbor-replay: " + inputs.error);
    return exit_usage;
  }
  s.inputs = inputs.inputs.size();
  module_choice choice = choose_module(options);
  if (!choice.error.empty()) {
    console.line("quillharbor-replay: " + choice.error);
    return exit_usage;
  }
  s.module_path = options.module_path.empty() ? default_module_path() : options.module_path;
  s.settings = choice.settings;
  if (choice.staged) s.staged_copy = choice.staged->module_path();

  outlet_sink sink(console, options.quiet);
  int status = exit_ok;
  try {
    filter_module module(choice.module_path);
    if (!module.set_outlets(&on_event, &on_trace, &sink))
      console.line("quillharbor-replay: the module has no outlet hook; its events and trace lines "
                   "go to the system's outlets and are not counted");

    HTTP_FILTER_VERSION version{};
    version.dwServerFilterVersion = HTTP_FILTER_REVISION;
    s.load_ok = module.get_filter_version(&version) != FALSE;
    if (s.load_ok) status = replay_loaded(module, inputs, options, console, s);
    module.set_outlets(nullptr, nullptr, nullptr);
  } catch (const std::exception& error) {
    console.line(std::string("quillharbor-replay: ") + error.what());
    s.load_ok = false;
  }
  choice.staged.reset();

  s.events = sink.events.load();
  s.trace_lines = sink.trace_lines.load();
  {
    std::lock_guard<std::mutex> lock(sink.last_event_mutex);
    s.load_event = sink.last_event;
  }
  s.total_seconds = seconds_since(started);
  console.end_progress();
  console.line(format_summary(s));
  if (summary_out) *summary_out = s;
  if (!s.load_ok || !s.unload_ok) return exit_filter_failed;
  for (const auto& input : s.per_input)
    if (status == exit_ok && input_failed(input)) status = exit_input_failed;
  return status;
}

int replay_main(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err) {
  try {
    const command_line parsed = parse_command_line(args);
    if (!parsed.error.empty()) {
      err << "quillharbor-replay: " << parsed.error << "\n(quillharbor-replay --help tells more)\n";
      return exit_usage;
    }
    if (parsed.options.help) {
      out << usage_text();
      return exit_ok;
    }
    return run_replay(parsed.options, in, err);
  } catch (const std::exception& error) {
    err << "quillharbor-replay: " << error.what() << "\n";
    return exit_filter_failed;
  }
}
