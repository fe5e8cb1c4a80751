// quillharbor-replay: drives the filter module with recorded web-server logs.
#include <iostream>

#include "host/replay.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return replay_main(args, std::cin, std::cout, std::cerr);
}
