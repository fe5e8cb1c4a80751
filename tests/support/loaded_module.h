// The built module, copied into a fresh directory with its settings and script
// beside it and loaded the way the web server loads it.
#pragma once

#include "platform/web_server.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "quillharbor/outlets.h"

struct captured_event {
  unsigned short type;
  unsigned int identifier;
  std::string text;
};

// What the module wrote through its outlets; safe from the module's threads.
class outlet_capture {
 public:
  std::vector<captured_event> events() const;
  std::vector<std::string> trace_lines() const;  // whole lines, "[tid] text\n"
  std::vector<std::string> trace_texts() const;  // the text after "] ", without "\n"

  static void QUILLHARBOR_CALL on_event(void* self, unsigned short type, unsigned int id,
                                        const char* text);
  static void QUILLHARBOR_CALL on_trace(void* self, const char* line);

 private:
  mutable std::mutex mutex_;
  std::vector<captured_event> events_;
  std::vector<std::string> lines_;
};

// A scratch directory removed with the object.
class scratch_directory {
 public:
  scratch_directory();
  ~scratch_directory();
  scratch_directory(const scratch_directory&) = delete;
  scratch_directory& operator=(const scratch_directory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Settings file text for a script in `dir`.
std::string settings_text(const std::filesystem::path& script, int pool_size,
                          int process_interval = 0);

class loaded_module {
 public:
  // Copies the module into `dir` and loads it, with its outlets routed to
  // capture() unless the platform's are wanted.
  explicit loaded_module(const std::filesystem::path& dir, bool capture_outlets = true);
  ~loaded_module();
  loaded_module(const loaded_module&) = delete;
  loaded_module& operator=(const loaded_module&) = delete;

  BOOL get_filter_version(HTTP_FILTER_VERSION* version) const { return get_filter_version_(version); }
  DWORD http_filter_proc(HTTP_FILTER_CONTEXT* context, DWORD type, void* data) const {
    return http_filter_proc_(context, type, data);
  }
  BOOL terminate_filter(DWORD flags) const { return terminate_filter_(flags); }
  const outlet_capture& capture() const { return capture_; }

 private:
  std::unique_ptr<platform::dynamic_library> library_;
  outlet_capture capture_;
  BOOL(WINAPI* get_filter_version_)(HTTP_FILTER_VERSION*) = nullptr;
  DWORD(WINAPI* http_filter_proc_)(HTTP_FILTER_CONTEXT*, DWORD, void*) = nullptr;
  BOOL(WINAPI* terminate_filter_)(DWORD) = nullptr;
};
