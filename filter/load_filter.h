// Loading, unloading and the log notification: what the entry points do.
#pragma once

#include "platform/web_server.h"

#include "filter/filter_state.h"

// Writes the filter-version record, builds the whole system and writes one
// event. Never throws.
BOOL load_filter(filter_state& filter, HTTP_FILTER_VERSION* version) noexcept;

// Stops the worker after it drained the queue, runs on_term, closes every
// state. TRUE only when all of it succeeded. Never throws.
BOOL unload_filter(filter_state& filter) noexcept;

// Deletes the state pool and closes the pool states. Only once no thread can
// use them.
void close_pool(filter_state& filter) noexcept;

// One notification: on_enqueue in a pool state, the record onto the queue.
// Always SF_STATUS_REQ_NEXT_NOTIFICATION. Never throws.
DWORD handle_notification(filter_state& filter, HTTP_FILTER_CONTEXT* context,
                          DWORD notification_type, void* notification) noexcept;
