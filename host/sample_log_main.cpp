// quillharbor-sample-log [--lines N] [--seed S] [OUTPUT]: writes the sample
// IIS log to OUTPUT, or to standard output.
#include <fstream>
#include <iostream>
#include <string>

#include "host/sample_log.h"

int main(int argc, char** argv) {
  sample_log_options options;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    try {
      if ((arg == "--lines" || arg == "--seed") && i + 1 < argc) {
        const auto value = std::stoull(argv[++i]);
        (arg == "--lines" ? options.lines : options.seed) = value;
      } else if (arg.rfind("-", 0) != 0 && output.empty()) {
        output = arg;
      } else {
        std::cerr << "usage: quillharbor-sample-log [--lines N] [--seed S] [OUTPUT]\n";
        return 2;
      }
    } catch (const std::exception&) {
      std::cerr << "quillharbor-sample-log: " << arg << " needs a number\n";
      return 2;
    }
  }
  if (output.empty()) {
    write_sample_log(std::cout, options);
    return std::cout ? 0 : 1;
  }
  std::ofstream file(output, std::ios::binary);
  write_sample_log(file, options);
  file.close();
  if (!file) {
    std::cerr << "quillharbor-sample-log: cannot write " << output << "\n";
    return 1;
  }
  return 0;
}
