// The web server's filter records for a host that drives the module: the SDK's
// <httpfilt.h> on Windows (which needs <windows.h> before it), our copy elsewhere.
#pragma once

#ifdef _WIN32
#  include <windows.h>
#endif
#include <httpfilt.h>
