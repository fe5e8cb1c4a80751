// The NCSA common and combined log formats of other web servers.
#pragma once

#include <string_view>

#include "host/log_entry.h"

// One line without its line end:
//   host ident user [time] "request" status bytes ["referer" "agent"]
// Quoted texts may hold \" and \\. Fields come out under the W3C names that
// IIS would log them as; further fields after the agent are ignored.
line_result parse_ncsa_line(std::string_view line, log_entry& entry);
