#include "host/module_choice.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/dynamic_library.h"
#include "platform/executable_directory.h"

namespace fs = std::filesystem;

namespace {

bool readable_file(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  return static_cast<bool>(file);
}

// Absolute, or failing that (no current directory) at least "./name".
std::string as_path(const std::string& given) {
  std::error_code error;
  const fs::path absolute = fs::absolute(given, error);
  if (!error) return absolute.lexically_normal().string();
  return fs::path(given).has_parent_path() ? given : "./" + given;
}

}  // namespace

std::string default_module_path() {
  return (fs::path(platform::executable_directory()) / platform::module_file_name()).string();
}

module_choice choose_module(const replay_options& options) {
  module_choice choice;
  // A bare name given to the loader would be searched for on the library path,
  // not taken from the directory where it was just checked.
  choice.module_path = options.module_path.empty() ? default_module_path()
                                                   : as_path(options.module_path);
  if (!readable_file(choice.module_path)) {
    choice.error = "module '" + choice.module_path + "' does not exist or cannot be read (see --module)";
    return choice;
  }
  try {
    if (!options.script_path.empty()) {
      if (!readable_file(options.script_path)) {
        choice.error = "script '" + options.script_path + "' does not exist or cannot be read";
        return choice;
      }
      const std::string script = fs::absolute(options.script_path).lexically_normal().string();
      choice.staged = std::make_unique<staged_module>(
          choice.module_path, settings_document(script, options.interval, options.pool));
      choice.settings = "written for " + script + " (pool_size " + std::to_string(options.pool) +
                        ", process_interval " + std::to_string(options.interval) + ")";
    } else if (!options.settings_path.empty()) {
      if (!readable_file(options.settings_path)) {
        choice.error = "settings file '" + options.settings_path + "' does not exist or cannot be read";
        return choice;
      }
      std::ifstream file(options.settings_path, std::ios::binary);
      std::ostringstream text;
      text << file.rdbuf();
      choice.staged = std::make_unique<staged_module>(choice.module_path, text.str());
      choice.settings = "copied from " + options.settings_path;
    } else {
      const fs::path beside = fs::path(choice.module_path).parent_path() / settings_file_name;
      if (!readable_file(beside.string())) {
        choice.error = "no " + beside.string() +
                       ": give --script FILE or --settings FILE, or put a settings file beside the module";
        return choice;
      }
      choice.settings = beside.string();
      return choice;
    }
  } catch (const std::exception& error) {
    choice.error = error.what();
    return choice;
  }
  choice.module_path = choice.staged->module_path();
  return choice;
}
