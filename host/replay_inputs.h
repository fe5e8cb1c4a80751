// The logs to replay, opened before the module is loaded so that a missing
// file stops the replay before the script runs.
#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <string>
#include <vector>

struct replay_input {
  std::string name;                    // as given; "-" for standard input
  std::unique_ptr<std::ifstream> file; // null for standard input
  std::istream* stream = nullptr;
};

struct replay_inputs {
  std::vector<replay_input> inputs;
  std::uint64_t total_bytes = 0;  // 0 when standard input is among them
  std::string error;              // names the first input that cannot be read
};

// stdin_stream serves every "-".
replay_inputs open_inputs(const std::vector<std::string>& names, std::istream& stdin_stream);
