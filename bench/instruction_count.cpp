#include "bench/instruction_count.h"

#include <cstring>

#include "bench/floor.h"
#include "bench/staged_filter.h"

namespace {

bool module_requests(std::size_t count) {
  script_directory script;
  staged_filter filter(script.script_path(), 1);
  reference_request request;
  if (!filter.load()) return false;
  for (std::size_t i = 0; i < count; ++i) filter.notify(request);
  return filter.terminate() && filter.trace_lines() == 0;
}

}  // namespace

bool run_requests(const char* path, std::size_t count) {
  if (std::strcmp(path, "floor") == 0) return floor_requests(count);
  if (std::strcmp(path, "module") == 0) return module_requests(count);
  return false;
}
