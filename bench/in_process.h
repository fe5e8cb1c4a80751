// The module's own code run inside the benchmark, for figures the loaded
// module cannot show alone: the request side without a worker competing for
// the cores, the worker over a queue filled beforehand, the bytes per record.
#pragma once

#include <cstddef>
#include <string>

#include "bench/reference.h"
#include "filter/filter_state.h"

namespace benchmark {
class State;
}

// A script state opened from `script_path`, closed with the object.
class open_state {
 public:
  explicit open_state(const std::string& script_path);
  ~open_state();
  open_state(const open_state&) = delete;
  open_state& operator=(const open_state&) = delete;

  script_state& get() { return *state_; }

 private:
  script_state* state_;
};

// The notification path (state pool, on_enqueue, record queue) with no worker:
// records stay queued until the object goes. Any thread may notify.
class request_side {
 public:
  request_side(const std::string& script_path, int pool_size);
  ~request_side();
  request_side(const request_side&) = delete;
  request_side& operator=(const request_side&) = delete;

  void notify(reference_request& request);
  // Sets the queue limit; only while nobody notifies.
  void set_queue_limit(std::int32_t limit) { filter_.settings.queue_limit = limit; }
  guarded_queue<record>& records() { return *filter_.record_queue; }
  // Destroys every queued record. Only while nobody notifies.
  void clear_records();

 private:
  filter_state filter_;
};

// Puts `count` records made by on_enqueue in `state` onto `queue`; false when
// the script kept fewer.
bool fill_records(script_state& state, reference_request& request, guarded_queue<record>& queue,
                  std::size_t count);

// For each batch of `state`: fills a queue with bench_batch records made by
// on_enqueue in `pool_state` (untimed), then times the worker draining it
// through `main_state`. Marks `state` with an error and stops when either fails.
void drain_batches(benchmark::State& state, script_state& main_state, script_state& pool_state,
                   reference_request& request);
