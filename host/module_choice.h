// Which module file the replay loads, and with which settings.
#pragma once

#include <memory>
#include <string>

#include "host/command_line.h"
#include "host/staged_module.h"

struct module_choice {
  std::string module_path;               // the file to load
  std::unique_ptr<staged_module> staged; // the temporary copy, when one was made
  std::string settings;                  // where the settings come from, for the summary
  std::string error;                     // a usage or file problem; nothing was made
};

// The module beside the running program.
std::string default_module_path();

// --script or --settings: a temporary copy with that settings file; neither:
// the module itself, whose own settings file must exist.
module_choice choose_module(const replay_options& options);
