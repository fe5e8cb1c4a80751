// Where the settings file lies: beside the module, fixed when it is attached.
#pragma once

#include <string>

constexpr const char settings_file_name[] = "quillharbor.setting";

// The full path of the settings file; empty until set_settings_path.
const std::string& settings_path();

// Fixes the settings path as directory, separator, settings_file_name; an
// empty directory (the module's own could not be found) leaves the path empty,
// so that no file is found rather than one in the root directory. Called at
// attach, on the loading thread, before any reader.
void set_settings_path(const std::string& module_directory);
