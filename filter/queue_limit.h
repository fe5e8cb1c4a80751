// The queue limit: a record beyond it is freed instead of queued.
#pragma once

#include "filter/filter_state.h"

// True when the record queue already holds queue_limit records: `made` is then
// freed and counted, with a trace line when none was written in the last 10 s.
// The size is read without the lock, so the queue can pass the limit by at
// most the number of request threads queuing at that moment.
bool drop_over_limit(filter_state& filter, record* made) noexcept;

// False at once, without a look at the queue, when no limit is set.
inline bool drop_when_full(filter_state& filter, record* made) noexcept {
  return filter.settings.queue_limit > 0 && drop_over_limit(filter, made);
}
