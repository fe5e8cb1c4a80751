#include "host/replay_request.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "platform/last_error.h"
#include "text/utf16.h"

namespace {

constexpr std::uint64_t dword_max = 0xFFFFFFFFull;

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// An absent number is 0; one beyond 32 bits stays at the largest, as a DWORD
// counter of the web server would.
bool read_dword(const log_entry& entry, const char* field, DWORD& out, std::string& problem) {
  out = 0;
  const std::string* text = entry.find(field);
  if (text == nullptr) return true;
  std::uint64_t value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') {
      problem = std::string(field) + " '" + *text + "' is not a number";
      return false;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > dword_max) value = dword_max + 1;
  }
  out = static_cast<DWORD>(value > dword_max ? dword_max : value);
  return true;
}

std::string field_or_empty(const log_entry& entry, const char* field) {
  const std::string* value = entry.find(field);
  return value ? *value : std::string();
}

// The Host header without its port.
std::string server_name(const log_entry& entry) {
  const std::string* host = entry.find("cs-host");
  if (host == nullptr) return field_or_empty(entry, "s-ip");
  const auto colon = host->rfind(':');
  const bool has_port = colon != std::string::npos && host->find(']', colon) == std::string::npos;
  return has_port ? host->substr(0, colon) : *host;
}

// IIS answers these in UTF-16, ended by two zero bytes.
bool is_wide_name(std::string_view name) {
  return name.size() >= 8 && same_ignoring_case(name.substr(0, 8), "UNICODE_");
}

}  // namespace

std::string header_variable_name(std::string_view field) {
  if (field.size() < 5 || field.substr(0, 3) != "cs(" || field.back() != ')') return std::string();
  std::string name = "HTTP_";
  for (char c : field.substr(3, field.size() - 4))
    name += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

replay_request::replay_request() {
  context_.cbSize = sizeof context_;
  context_.Revision = HTTP_FILTER_REVISION;
  context_.ServerContext = this;
  context_.GetServerVariable = &replay_get_server_variable;
}

std::unique_ptr<replay_request> replay_request::from_entry(const log_entry& entry,
                                                           std::string& problem) {
  std::unique_ptr<replay_request> request(new replay_request());
  HTTP_FILTER_LOG& log = request->log_;
  if (!read_dword(entry, "sc-status", log.dwHttpStatus, problem) ||
      !read_dword(entry, "sc-win32-status", log.dwWin32Status, problem) ||
      !read_dword(entry, "sc-bytes", log.dwBytesSent, problem) ||
      !read_dword(entry, "cs-bytes", log.dwBytesRecvd, problem) ||
      !read_dword(entry, "time-taken", log.msTimeForProcessing, problem))
    return nullptr;

  // IIS knows these for every request, empty when the request had none.
  const std::string user = field_or_empty(entry, "cs-username");
  request->set("REMOTE_ADDR", field_or_empty(entry, "c-ip"));
  request->set("REMOTE_HOST", field_or_empty(entry, "c-ip"));
  request->set("REMOTE_USER", user);
  request->set("AUTH_USER", user);
  request->set("LOGON_USER", user);
  request->set("REQUEST_METHOD", field_or_empty(entry, "cs-method"));
  request->set("URL", field_or_empty(entry, "cs-uri-stem"));
  request->set("QUERY_STRING", field_or_empty(entry, "cs-uri-query"));
  request->set("LOCAL_ADDR", field_or_empty(entry, "s-ip"));
  request->set("SERVER_PORT", field_or_empty(entry, "s-port"));
  request->set("SERVER_NAME", server_name(entry));
  request->set("SERVER_PROTOCOL", field_or_empty(entry, "cs-version"));
  // IIS's UTF-16 forms of the decoded URL and the user names; its log holds them as UTF-8.
  // PATH_INFO is the URL for a request without a script mapping, as a replayed one is.
  const std::string url = field_or_empty(entry, "cs-uri-stem");
  request->set("UNICODE_URL", utf8_to_utf16le(url));
  request->set("UNICODE_PATH_INFO", utf8_to_utf16le(url));
  for (const char* name : {"UNICODE_REMOTE_USER", "UNICODE_AUTH_USER", "UNICODE_LOGON_USER"})
    request->set(name, utf8_to_utf16le(user));
  // Request headers exist only when the request carried them.
  if (const std::string* host = entry.find("cs-host")) request->set("HTTP_HOST", *host);
  for (const auto& field : entry.fields) {
    std::string name = header_variable_name(field.first);
    if (!name.empty() && request->variable(name) == nullptr) request->set(std::move(name), field.second);
  }
  request->finish();
  return request;
}

void replay_request::set(std::string name, std::string value) {
  variables_.emplace_back(std::move(name), std::move(value));
}

// The record's texts point into the variables, which change no more.
void replay_request::finish() {
  log_.pszClientHostName = variable("REMOTE_ADDR")->c_str();
  log_.pszClientUserName = variable("REMOTE_USER")->c_str();
  log_.pszServerName = variable("SERVER_NAME")->c_str();
  log_.pszOperation = variable("REQUEST_METHOD")->c_str();
  log_.pszTarget = variable("URL")->c_str();
  log_.pszParameters = variable("QUERY_STRING")->c_str();
}

const std::string* replay_request::variable(std::string_view name) const noexcept {
  for (const auto& v : variables_)
    if (same_ignoring_case(v.first, name)) return &v.second;
  return nullptr;
}

BOOL WINAPI replay_get_server_variable(HTTP_FILTER_CONTEXT* context, LPSTR name, LPVOID buffer,
                                       LPDWORD size) {
  if (context == nullptr || context->ServerContext == nullptr || name == nullptr || size == nullptr)
    return FALSE;
  const auto* request = static_cast<const replay_request*>(context->ServerContext);
  const std::string* value = request->variable(name);
  if (value == nullptr) {
    platform::set_last_error_no_such_variable();
    return FALSE;
  }
  const std::size_t terminator = is_wide_name(name) ? 2 : 1;
  const std::uint64_t needed = value->size() + terminator;
  if (needed > dword_max) return FALSE;
  if (buffer == nullptr || *size < needed) {
    *size = static_cast<DWORD>(needed);
    platform::set_last_error_buffer_too_small();
    return FALSE;
  }
  std::memcpy(buffer, value->data(), value->size());
  std::memset(static_cast<char*>(buffer) + value->size(), 0, terminator);
  *size = static_cast<DWORD>(needed);
  return TRUE;
}
