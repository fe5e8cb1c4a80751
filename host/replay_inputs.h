// The logs to replay, opened before the module is loaded so that a missing
// file stops the replay before the script runs.
#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "host/gzip_stream.h"

struct replay_input {
  std::string name;                    // as given; "-" for standard input
  std::unique_ptr<std::istream> file;  // null for standard input
  std::istream* stream = nullptr;
  const gzip_streambuf* gzip = nullptr;  // within file, when it is compressed
};

// Why the input ended before its end, "" when it did not.
std::string read_error(const replay_input& input);

struct replay_inputs {
  std::vector<replay_input> inputs;
  std::uint64_t total_bytes = 0;  // 0 when standard input or a .gz is among them
  std::string error;              // names the first input that cannot be read
};

// stdin_stream serves every "-"; a file in gzip format is read decompressed.
replay_inputs open_inputs(const std::vector<std::string>& names, std::istream& stdin_stream);
