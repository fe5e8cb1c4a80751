#include "tests/support/fake_request.h"

#include <cstring>

#include "platform/last_error.h"

fake_request::fake_request() {
  context.cbSize = sizeof context;
  context.Revision = HTTP_FILTER_REVISION;
  context.ServerContext = this;
  context.GetServerVariable = &fake_request::get_server_variable;
}

BOOL WINAPI fake_request::get_server_variable(HTTP_FILTER_CONTEXT* context, LPSTR name,
                                              LPVOID buffer, LPDWORD size) {
  const auto* self = static_cast<const fake_request*>(context->ServerContext);
  const auto found = self->variables_.find(name);
  if (found == self->variables_.end()) return FALSE;
  const DWORD needed = static_cast<DWORD>(found->second.size() + 1);
  if (needed > *size) {
    *size = needed;
    platform::set_last_error_buffer_too_small();
    return FALSE;
  }
  std::memcpy(buffer, found->second.c_str(), needed);
  *size = needed;
  return TRUE;
}
