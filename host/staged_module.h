// Giving the module a settings file of the replay's choosing: the module reads
// only the quillharbor.setting beside itself, so a copy of it is placed in a
// new temporary directory beside the settings file.
#pragma once

#include <string>

// The settings document for one script (an absolute path is best: the module
// takes a relative one from the current directory).
std::string settings_document(const std::string& script_path, int process_interval, int pool_size);

// Owns the temporary directory, which the destructor removes; destroy it only
// after the module copy has been unloaded. Not copyable.
class staged_module {
 public:
  // Throws std::runtime_error when the directory or a file cannot be made.
  staged_module(const std::string& module_path, const std::string& settings_text);
  ~staged_module();
  staged_module(const staged_module&) = delete;
  staged_module& operator=(const staged_module&) = delete;

  const std::string& module_path() const noexcept { return module_path_; }
  const std::string& directory() const noexcept { return directory_; }

 private:
  std::string directory_;
  std::string module_path_;
};

// The name of the settings file that the module reads beside itself.
constexpr const char* settings_file_name = "quillharbor.setting";
