// What the settings file configures.
#pragma once

#include <cstdint>
#include <string>

struct settings_record {
  std::int32_t process_interval = 0;  // milliseconds the worker pauses after each record; >= 0 after a load
  std::int32_t pool_size = 5;         // number of pool states; >= 1 after a load
  std::string script_path;            // the script every state loads, as the file gave it
};
