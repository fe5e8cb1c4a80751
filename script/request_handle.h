// What one log notification gives the script: the web server's two records.
#pragma once

#include "platform/web_server.h"

// Lives on the notifying thread's stack for the length of one on_enqueue call.
struct request_handle {
  HTTP_FILTER_CONTEXT* filter_context;
  HTTP_FILTER_LOG* log_record;
};
