#include "bench/reference.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/temp_directory.h"

const char reference_script[] = R"lua(
function on_init() return true end
function on_term() return true end

function on_enqueue(handle)
  local request = enqueue_context.new(handle)
  return true, {
    server = request:server_variable("SERVER_NAME"),
    url = request:server_variable("URL"),
    client = request:server_variable("REMOTE_ADDR"),
    status = request:http_status(),
    win32_status = request:win32_status(),
    bytes_sent = request:bytes_sent(),
    bytes_recvd = request:bytes_recvd(),
    time_taken = request:process_time(),
  }
end

function on_dequeue(fields, record_number)
end
)lua";

namespace {

struct variable {
  const char* name;
  const char* value;
};

const variable variables[] = {
    {"SERVER_NAME", "www.example.com"},
    {"URL", "/catalog/item.aspx"},
    {"REMOTE_ADDR", "192.0.2.17"},
};

BOOL WINAPI get_server_variable(HTTP_FILTER_CONTEXT*, LPSTR name, LPVOID buffer, LPDWORD size) {
  for (const variable& v : variables) {
    if (std::strcmp(v.name, name) != 0) continue;
    const DWORD needed = static_cast<DWORD>(std::strlen(v.value) + 1);
    if (needed > *size) {
      *size = needed;
      return FALSE;
    }
    std::memcpy(buffer, v.value, needed);
    *size = needed;
    return TRUE;
  }
  return FALSE;
}

}  // namespace

reference_request::reference_request() {
  context.cbSize = sizeof context;
  context.Revision = HTTP_FILTER_REVISION;
  context.GetServerVariable = &get_server_variable;
  log.dwHttpStatus = 200;
  log.dwWin32Status = 0;
  log.dwBytesSent = 5120;
  log.dwBytesRecvd = 431;
  log.msTimeForProcessing = 15;
}

script_directory::script_directory() : path_(platform::make_temp_directory("quillharbor-bench-")) {
  script_path_ = (std::filesystem::path(path_) / "reference.lua").string();
  std::ofstream out(script_path_, std::ios::binary);
  out << reference_script;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + script_path_);
}

script_directory::~script_directory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}
