// Arbitrary bytes as the settings file: load_settings either fills the record
// within its limits or throws one of its two failures; nothing else.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/load_settings.h"
#include "settings/mxml.h"

namespace {

const std::string& file_path() {
  // Memory-backed where there is such a directory: the file is rewritten per input.
  static const std::string path =
      std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
      "/quillharbor-settings-fuzz-" + std::to_string(::getpid());
  static const bool removed_at_exit = std::atexit([] { std::remove(path.c_str()); }) == 0;
  (void)removed_at_exit;
  return path;
}

void write_file(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(file_path().c_str(), "wb");
  if (file == nullptr) __builtin_trap();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) __builtin_trap();
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  write_file(data, size);
  // Starting from the initial values, as the first load of a process does.
  settings_record settings;
  try {
    load_settings(settings, file_path());
  } catch (const MXML::SyntaxException& e) {
    if (e.line < 1 || e.column < 0 || e.code <= 0) __builtin_trap();
    return 0;
  } catch (const load_exception&) {
    return 0;
  }
  // Reached only for a well-formed document whose root is setting.
  if (settings.pool_size < 1 || settings.process_interval < 0) __builtin_trap();
  if (settings.script_path.find('\0') != std::string::npos) __builtin_trap();
  return 0;
}
