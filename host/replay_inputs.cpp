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
    if (is_gzip_file(name)) {
      auto gzip = std::make_unique<gzip_istream>(name);
      input.gzip = &gzip->buffer();
      input.file = std::move(gzip);
      sized = false;  // the progress counts the text, not the compressed bytes
    } else {
      input.file = std::make_unique<std::ifstream>(name, std::ios::binary);
    }
    if ((input.gzip && !input.gzip->is_open()) || !*input.file) {
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

std::string read_error(const replay_input& input) {
  if (input.gzip && !input.gzip->error().empty()) return input.gzip->error();
  if (input.stream && input.stream->bad()) return "read error";
  return std::string();
}
