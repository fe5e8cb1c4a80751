// The replay's command line.
#pragma once

#include <string>
#include <vector>

#include "host/log_reader.h"

enum class progress_mode { automatic, on, off };

struct replay_options {
  std::vector<std::string> inputs;  // in order; "-" is standard input, none means "-"
  std::string module_path;          // empty: the module beside the program
  std::string script_path;          // set: a settings file is written for this script
  std::string settings_path;        // set: this settings file is used
  int interval = 0;                 // process_interval of the written settings file
  int pool = 5;                     // pool_size of the written settings file
  log_format format = log_format::automatic;
  std::string fields;  // W3C fields before any #Fields line; empty: IIS's default ones
  unsigned threads = 0;  // 0: one per core
  double rate = 0;       // notifications per second; 0: as fast as possible
  progress_mode progress = progress_mode::automatic;
  bool quiet = false;           // trace lines counted but not printed
  unsigned report_limit = 10;   // malformed lines reported one by one
  bool help = false;
};

struct command_line {
  replay_options options;
  std::string error;  // empty when the arguments are usable
};

// args without the program name.
command_line parse_command_line(const std::vector<std::string>& args);

std::string usage_text();
