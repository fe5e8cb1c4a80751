// quillharbor-replay: drives the filter module with recorded web-server logs.
#include <iostream>

#include "host/replay.h"

int main(int argc, char** argv) {
  // Standard input through a buffer of its own, which tells how much a pipe
  // holds: the replay hands over what has come whenever the pipe runs dry.
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return replay_main(args, std::cin, std::cout, std::cerr);
}
