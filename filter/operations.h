// What running in production adds around load and unload: the counters, the
// trace file, the drain limit and the counters' trace line.
#pragma once

#include "filter/filter_state.h"

// At load, once the settings are read: resets the counters, sets the drain
// limit, opens the trace file (when it cannot, one event says so and the load
// goes on). Throws std::bad_alloc or std::runtime_error.
void start_operations(filter_state& filter);

// At load, once the main state is open: its global quillharbor_counters, set
// on the state's own stack under the time limit. Throws std::bad_alloc, or
// init_error 8 (as for on_init) when a finaliser of the script raises.
void offer_counters(filter_state& filter);

// Last in unload: the counters' trace line when any production setting is set,
// then the trace file closes. Also at the end of a failed load (no line then).
void finish_operations(filter_state& filter, bool unloaded) noexcept;
