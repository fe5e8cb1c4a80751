#include "host/replay_inputs.h"

#include <filesystem>

namespace fs = std::filesystem;

replay_inputs open_inputs(const std::vector<std::string>& names, std::istream& stdin_stream) {
  replay_inputs result;
  bool sized = true;
  for (const auto& name : names) {
    replay_input input;
    input.name = name;
    if (name == "-") {
      input.stream = &stdin_stream;
      sized = false;
      result.inputs.push_back(std::move(input));
      continue;
    }
    std::error_code error;
    const auto status = fs::status(name, error);
    if (!fs::exists(status)) {
      result.error = "log file '" + name + "' does not exist";
      return result;
    }
    if (fs::is_directory(status)) {
      result.error = "log file '" + name + "' is a directory";
      return result;
    }
    input.file = std::make_unique<std::ifstream>(name, std::ios::binary);
    if (!*input.file) {
      result.error = "log file '" + name + "' cannot be read";
      return result;
    }
    const auto size = fs::file_size(name, error);
    if (!error) result.total_bytes += size;
    input.stream = input.file.get();
    result.inputs.push_back(std::move(input));
  }
  if (!sized) result.total_bytes = 0;
  return result;
}
