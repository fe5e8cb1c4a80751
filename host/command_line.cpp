#include "host/command_line.h"

#include <limits>

namespace {

bool read_count(const std::string& text, long long low, long long high, long long& out) {
  if (text.empty() || text.size() > 12) return false;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  out = value;
  return true;
}

bool read_rate(const std::string& text, double& out) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used != text.size() || !(value > 0) || value > 1e9) return false;
    out = value;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

command_line parse_command_line(const std::vector<std::string>& args) {
  command_line result;
  replay_options& o = result.options;
  bool pool_given = false, interval_given = false, only_inputs = false;
  const auto fail = [&result](std::string message) {
    result.error = std::move(message);
    return result;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (only_inputs || arg == "-" || arg.rfind("-", 0) != 0) {
      o.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_inputs = true;
      continue;
    }
    std::string value;
    bool has_inline_value = false;
    const auto equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
      has_inline_value = true;
    }
    const auto flag = [&]() {
      if (has_inline_value) fail(arg + " takes no value");
      return !has_inline_value;
    };
    const auto take_value = [&]() {
      if (has_inline_value) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    long long number = 0;

    if (arg == "-h" || arg == "--help") {
      if (!flag()) return result;
      o.help = true;
    } else if (arg == "--quiet") {
      if (!flag()) return result;
      o.quiet = true;
    } else if (arg == "--progress") {
      if (!flag()) return result;
      o.progress = progress_mode::on;
    } else if (arg == "--no-progress") {
      if (!flag()) return result;
      o.progress = progress_mode::off;
    } else if (arg == "--module" || arg == "--script" || arg == "--settings" || arg == "--format" ||
               arg == "--fields" || arg == "--threads" || arg == "--rate" || arg == "--interval" || arg == "--pool" ||
               arg == "--report") {
      if (!take_value() || value.empty()) return fail(arg + " needs a value");
      if (arg == "--module") {
        o.module_path = value;
      } else if (arg == "--script") {
        o.script_path = value;
      } else if (arg == "--settings") {
        o.settings_path = value;
      } else if (arg == "--format") {
        if (value == "auto") o.format = log_format::automatic;
        else if (value == "w3c") o.format = log_format::w3c;
        else if (value == "ncsa") o.format = log_format::ncsa;
        else return fail("--format must be auto, w3c or ncsa, not '" + value + "'");
      } else if (arg == "--fields") {
        if (value.rfind("#Fields:", 0) == 0) value.erase(0, 8);
        if (value.find_first_not_of(" \t") == std::string::npos) return fail("--fields needs field names");
        o.fields = value;
      } else if (arg == "--threads") {
        if (!read_count(value, 1, 1024, number)) return fail("--threads must be from 1 to 1024");
        o.threads = static_cast<unsigned>(number);
      } else if (arg == "--rate") {
        if (!read_rate(value, o.rate)) return fail("--rate must be a number of notifications per second above 0");
      } else if (arg == "--interval") {
        if (!read_count(value, 0, std::numeric_limits<int>::max(), number))
          return fail("--interval must be a number of milliseconds, 0 or more");
        o.interval = static_cast<int>(number);
        interval_given = true;
      } else if (arg == "--pool") {
        if (!read_count(value, 1, std::numeric_limits<int>::max(), number))
          return fail("--pool must be a number of script states, 1 or more");
        o.pool = static_cast<int>(number);
        pool_given = true;
      } else {
        if (!read_count(value, 0, 1000000, number)) return fail("--report must be a count of lines");
        o.report_limit = static_cast<unsigned>(number);
      }
    } else {
      return fail("unknown option " + arg);
    }
  }

  if (o.help) return result;
  if (!o.script_path.empty() && !o.settings_path.empty())
    return fail("--script and --settings exclude each other");
  if ((pool_given || interval_given) && o.script_path.empty())
    return fail("--pool and --interval go with --script");
  if (o.inputs.empty()) o.inputs.push_back("-");
  return result;
}

std::string usage_text() {
  return R"(usage: quillharbor-replay [options] [LOG ...]

Replays recorded web-server logs through the quillharbor filter module as IIS
would run it: GetFilterVersion once, one SF_NOTIFY_LOG notification per request
line from several request threads at once, TerminateFilter once after the last
notification has returned.

LOG            log files, replayed in the order given; "-" or none reads
               standard input; a gzip-compressed file is read decompressed.
               IIS W3C extended logs (#Fields: decides the columns and may
               change within a file; "-" is an absent value) and NCSA common,
               combined and virtual-host logs.

Which script runs:
  --script FILE    run this Lua script: the module is copied into a new
                   temporary directory with a quillharbor.setting naming FILE,
                   and that copy is loaded (the module only ever reads the
                   settings file beside itself); the directory is removed at exit
  --interval MS    process_interval of that settings file (default 0)
  --pool N         pool_size of that settings file (default 5)
  --settings FILE  copy this settings file beside a temporary copy of the module
                   instead; a relative script path in it is taken from the
                   current directory
  (neither)        load the module where it lies, with the quillharbor.setting
                   that must already lie beside it
  --module PATH    the module to load (default: quillharbor.so or
                   quillharbor.dll beside this program)

How it is replayed:
  --format F       auto (default: W3C from an input's first "#" line on;
                   before it, NCSA for lines with a [time], W3C for others),
                   w3c or ncsa
  --fields "F ..." the W3C fields of lines before any #Fields line (default:
                   IIS's "date time s-ip cs-method cs-uri-stem cs-uri-query
                   s-port cs-username c-ip cs(User-Agent) cs(Referer) sc-status
                   sc-substatus sc-win32-status time-taken")
  --threads N      request threads calling HttpFilterProc at once (default:
                   one per core)
  --rate R         at most R notifications per second (default: no limit)

What it prints (standard error; standard output is left to the script):
  the module's event-log entries and trace lines as they come ("event ..." and
  "trace [thread] ..."), the first malformed lines with file and line number,
  a progress bar when standard error is a terminal, and a summary at the end.
  --quiet          count trace lines without printing them
  --report N       malformed lines reported one by one (default 10)
  --progress, --no-progress   force the progress bar on or off
  -h, --help       this text

Exit status: 0 when the module loaded and unloaded successfully; 1 when
GetFilterVersion or TerminateFilter returned FALSE or the module could not be
loaded; 2 for bad usage or an input, script or settings file that cannot be read,
an input cut short (damaged gzip data) or one of which no line could be
replayed. Other malformed log lines are skipped and counted per input.
)";
}
