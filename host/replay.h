// The replay from command line to exit status.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/replay_summary.h"

// Exit statuses.
constexpr int exit_ok = 0;
constexpr int exit_filter_failed = 1;  // the load or the unload failed
constexpr int exit_usage = 2;          // bad arguments or an unreadable file
constexpr int exit_input_failed = 2;   // an input cut short, or of which nothing could be replayed

// Loads the module, replays every input, unloads it. Everything but the
// script's own output goes to err; the summary, when given, receives the figures.
int run_replay(const replay_options& options, std::istream& in, std::ostream& err,
               replay_summary* summary = nullptr);

// args without the program name; --help text goes to out.
int replay_main(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err);
