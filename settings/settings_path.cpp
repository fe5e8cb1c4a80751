#include "settings/settings_path.h"

#include "platform/module_directory.h"

namespace {

// Constructed on first use, so a load-time constructor may set it whatever the
// order of static initialisation.
std::string& stored_settings_path() {
  static std::string path;
  return path;
}

}  // namespace

const std::string& settings_path() { return stored_settings_path(); }

void set_settings_path(const std::string& module_directory) {
  std::string& path = stored_settings_path();
  if (module_directory.empty()) {
    path.clear();
    return;
  }
  path = module_directory + platform::path_separator() + settings_file_name;
}
