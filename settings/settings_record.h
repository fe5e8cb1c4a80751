// What the settings file configures.
#pragma once

#include <cstdint>
#include <string>

struct settings_record {
  std::int32_t process_interval = 0;  // milliseconds the worker pauses after each record; >= 0 after a load
  std::int32_t pool_size = 5;         // number of pool states; >= 1 after a load
  std::string script_path;            // the script every state loads, as the file gave it

  // Running in production; each 0 or empty (the default) leaves its feature off.
  std::string trace_path;             // file that also receives every trace line and event text
  std::int64_t trace_max_size = 0;    // bytes at which the trace file is renamed to path + ".1"; >= 0
  std::int32_t queue_limit = 0;       // records the queue may hold; a record beyond is dropped; >= 0
  std::int32_t drain_limit = 0;       // milliseconds unload hands queued records on; >= 0
  std::int32_t time_limit = 0;        // milliseconds one callback's Lua code may run; >= 0
  bool fail_open = false;             // a load that fails once the settings are read passes requests through
  std::int32_t variable_limit = 0;    // bytes a value may need for a second read; 0 or >= 2048
};
