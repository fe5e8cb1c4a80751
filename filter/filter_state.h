// Everything a loaded filter holds, one instance per loaded module.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "filter/counters.h"
#include "filter/in_flight.h"
#include "script/record.h"
#include "script/script_state.h"
#include "settings/settings_record.h"
#include "workqueue/drain_clock.h"
#include "workqueue/guarded_queue.h"
#include "workqueue/worker.h"

// A load failure: code is the failure event's identifier, message its text.
struct init_error {
  std::int32_t code;
  std::string message;
};

// Built by load_filter, torn down by unload_filter or a failed load. The gate
// lets one load or unload run at a time and no notification inside either, so
// nothing else here has a lock of its own.
struct filter_state {
  settings_record settings;  // kept across loads: a reload starts from what the last one read
  filter_gate gate;
  script_state* main_state = nullptr;
  std::vector<script_state*> pool_states;  // owns the pool states, index order
  guarded_queue<script_state>* state_pool = nullptr;
  guarded_queue<record>* record_queue = nullptr;
  // On the heap, so that unload can leave it to a worker not known to have ended.
  worker_context* worker = nullptr;
  platform::thread_handle worker_thread = nullptr;
  filter_counters counters;                      // from load to unload
  drain_clock drain;                             // the drain limit, shared with the worker
  std::atomic<std::int64_t> next_drop_trace{0};  // steady ms before which a drop is not traced
  // Loaded after a failed load under fail_open: nothing above is built, and
  // every notification returns at once.
  std::atomic<bool> passing_through{false};
};

// The module's one filter.
filter_state& the_filter();
