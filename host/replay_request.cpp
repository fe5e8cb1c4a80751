#include "host/replay_request.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "platform/last_error.h"
#include "text/utf16.h"

namespace {

constexpr std::uint64_t dword_max = 0xFFFFFFFFull;

char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  return true;
}

// The fields a request is made of, found in one pass over the entry: the first
// field of each name counts, as log_entry::find would give it.
enum field_slot {
  sc_status, sc_win32_status, sc_bytes, cs_bytes, time_taken,
  c_ip, cs_username, cs_method, cs_uri_stem, cs_uri_query, s_ip, s_port, cs_version, cs_host,
  slot_count
};
constexpr std::string_view slot_names[slot_count] = {
    "sc-status", "sc-win32-status", "sc-bytes", "cs-bytes", "time-taken",
    "c-ip", "cs-username", "cs-method", "cs-uri-stem", "cs-uri-query", "s-ip", "s-port", "cs-version", "cs-host"};

struct request_fields {
  explicit request_fields(const log_entry& entry) {
    for (const auto& field : entry.fields)
      for (int slot = 0; slot < slot_count; ++slot)
        if (value[slot] == nullptr && field.first == slot_names[slot]) {
          value[slot] = &field.second;
          break;
        }
  }
  std::string or_empty(field_slot slot) const { return value[slot] ? *value[slot] : std::string(); }

  const std::string* value[slot_count] = {};
};

// An absent number is 0; one beyond 32 bits stays at the largest, as a DWORD
// counter of the web server would.
bool read_dword(const request_fields& fields, field_slot slot, DWORD& out, std::string& problem) {
  out = 0;
  const std::string* text = fields.value[slot];
  if (text == nullptr) return true;
  std::uint64_t value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') {
      problem = std::string(slot_names[slot]) + " '" + *text + "' is not a number";
      return false;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > dword_max) value = dword_max + 1;
  }
  out = static_cast<DWORD>(value > dword_max ? dword_max : value);
  return true;
}

// The Host header without its port.
std::string server_name(const request_fields& fields) {
  const std::string* host = fields.value[cs_host];
  if (host == nullptr) return fields.or_empty(s_ip);
  const auto colon = host->rfind(':');
  const bool has_port = colon != std::string::npos && host->find(']', colon) == std::string::npos;
  return has_port ? host->substr(0, colon) : *host;
}

// IIS answers these in UTF-16, ended by two zero bytes.
bool is_wide_name(std::string_view name) {
  return name.size() >= 8 && same_ignoring_case(name.substr(0, 8), "UNICODE_");
}

// The variable whose UTF-16 form a UNICODE_ name asks for; IIS offers the
// decoded URL (also as PATH_INFO, the URL for a request without a script
// mapping, as a replayed one is) and the user names. Its log holds them as
// UTF-8, or in the server's code page when it was set to write so.
std::string_view wide_source(std::string_view name) {
  const std::string_view base = name.substr(8);
  if (same_ignoring_case(base, "PATH_INFO")) return "URL";
  for (std::string_view known : {"URL", "REMOTE_USER", "AUTH_USER", "LOGON_USER"})
    if (same_ignoring_case(base, known)) return known;
  return std::string_view();  // none: no such variable
}

}  // namespace

std::string header_variable_name(std::string_view field) {
  if (field.size() < 5 || field.substr(0, 3) != "cs(" || field.back() != ')') return std::string();
  std::string name = "HTTP_";
  for (char c : field.substr(3, field.size() - 4))
    name += c == '-' ? '_' : ascii_upper(c);
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
  const request_fields fields(entry);
  std::unique_ptr<replay_request> request(new replay_request());
  HTTP_FILTER_LOG& log = request->log_;
  if (!read_dword(fields, sc_status, log.dwHttpStatus, problem) ||
      !read_dword(fields, sc_win32_status, log.dwWin32Status, problem) ||
      !read_dword(fields, sc_bytes, log.dwBytesSent, problem) ||
      !read_dword(fields, cs_bytes, log.dwBytesRecvd, problem) ||
      !read_dword(fields, time_taken, log.msTimeForProcessing, problem))
    return nullptr;

  // IIS knows these for every request, empty when the request had none.
  constexpr std::size_t always_known = 12;
  request->variables_.reserve(always_known + 1 + entry.fields.size());
  const std::string user = fields.or_empty(cs_username);
  request->set("REMOTE_ADDR", fields.or_empty(c_ip));
  request->set("REMOTE_HOST", fields.or_empty(c_ip));
  request->set("REMOTE_USER", user);
  request->set("AUTH_USER", user);
  request->set("LOGON_USER", user);
  request->set("REQUEST_METHOD", fields.or_empty(cs_method));
  request->set("URL", fields.or_empty(cs_uri_stem));
  request->set("QUERY_STRING", fields.or_empty(cs_uri_query));
  request->set("LOCAL_ADDR", fields.or_empty(s_ip));
  request->set("SERVER_PORT", fields.or_empty(s_port));
  request->set("SERVER_NAME", server_name(fields));
  request->set("SERVER_PROTOCOL", fields.or_empty(cs_version));
  // Request headers exist only when the request carried them; their names,
  // made here, are upper case and none of the always-known ones.
  if (fields.value[cs_host]) request->set("HTTP_HOST", *fields.value[cs_host]);
  const auto headers = request->variables_.begin() + always_known;
  for (const auto& field : entry.fields) {
    std::string name = header_variable_name(field.first);
    if (name.empty()) continue;
    bool known = false;
    for (auto v = headers; v != request->variables_.end() && !known; ++v) known = v->first == name;
    if (!known) request->set(std::move(name), field.second);
  }
  request->finish();
  return request;
}

void replay_request::set(std::string name, std::string value) {
  variables_.emplace_back(std::move(name), std::move(value));
}

// The record's texts point into the variables, which change no more; they
// are the always-known ones, at the places from_entry set them.
void replay_request::finish() {
  log_.pszClientHostName = variables_[0].second.c_str();   // REMOTE_ADDR
  log_.pszClientUserName = variables_[2].second.c_str();   // REMOTE_USER
  log_.pszOperation = variables_[5].second.c_str();        // REQUEST_METHOD
  log_.pszTarget = variables_[6].second.c_str();           // URL
  log_.pszParameters = variables_[7].second.c_str();       // QUERY_STRING
  log_.pszServerName = variables_[10].second.c_str();      // SERVER_NAME
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
  const bool wide = is_wide_name(name);
  const std::string* value = request->variable(wide ? wide_source(name) : std::string_view(name));
  if (value == nullptr) {
    platform::set_last_error_no_such_variable();
    return FALSE;
  }
  // Made only when asked for: most scripts read none of them.
  std::string utf16;
  if (wide) {
    try {
      utf16 = log_text_to_utf16le(*value);
    } catch (...) {
      return FALSE;
    }
    value = &utf16;
  }
  const std::size_t terminator = wide ? 2 : 1;
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
