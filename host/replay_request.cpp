#include "host/replay_request.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "platform/last_error.h"
#include "text/utf16.h"

namespace {

constexpr std::uint64_t dword_max = 0xFFFFFFFFull;

constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Names compare without regard to case, as IIS compares them. Names asked are
// nearly always in upper case already: their bytes are compared at once, and
// letter by letter only when they differ.
constexpr bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  return true;
}

// The fields a request is made of, found in one pass over the entry: the first
// field of each name counts, as log_entry::find would give it. The numbers of
// the record come first, then the texts of the variables, cs-host last.
enum field_slot {
  sc_status, sc_win32_status, sc_bytes, cs_bytes, time_taken,
  c_ip, cs_username, cs_method, cs_uri_stem, cs_uri_query, s_ip, s_port, cs_version, cs_host,
  slot_count
};
constexpr std::string_view slot_names[slot_count] = {
    "sc-status", "sc-win32-status", "sc-bytes", "cs-bytes", "time-taken",
    "c-ip", "cs-username", "cs-method", "cs-uri-stem", "cs-uri-query", "s-ip", "s-port", "cs-version", "cs-host"};

// The slot a field fills, or slot_count for none: by the name's length first,
// which leaves one or two names to compare rather than all of them.
constexpr field_slot slot_of(std::string_view name) {
  auto either = [name](field_slot a, field_slot b = slot_count) {
    if (name == slot_names[a]) return a;
    return b != slot_count && name == slot_names[b] ? b : slot_count;
  };
  switch (name.size()) {
    case 4: return either(c_ip, s_ip);
    case 6: return either(s_port);
    case 7: return either(cs_host);
    case 8: return either(sc_bytes, cs_bytes);
    case 9: return either(sc_status, cs_method);
    case 10: return either(time_taken, cs_version);
    case 11: return either(cs_username, cs_uri_stem);
    case 12: return either(cs_uri_query);
    case 15: return either(sc_win32_status);
    default: return slot_count;
  }
}

constexpr bool slot_of_finds_every_slot() {
  for (int slot = 0; slot < slot_count; ++slot)
    if (slot_of(slot_names[slot]) != slot) return false;
  return true;
}
static_assert(slot_of_finds_every_slot(), "slot_of misses a slot name");

bool is_header_field(std::string_view field) {
  return field.size() >= 5 && field.substr(0, 3) == "cs(" && field.back() == ')';
}

struct request_fields {
  explicit request_fields(const log_entry& entry) {
    for (const auto& field : entry.fields) {
      const field_slot slot = slot_of(field.name);
      if (slot != slot_count) {
        if (value[slot] == nullptr) value[slot] = &field.value;
      } else if (is_header_field(field.name)) {
        header_bytes += field.name.size() + 1 + field.value.size() + 1;  // "HTTP_..." and the value
      }
    }
  }
  std::string_view or_empty(field_slot slot) const { return value[slot] ? *value[slot] : std::string_view(); }

  const std::string_view* value[slot_count] = {};
  std::size_t header_bytes = 0;  // of the header fields' names and values, with their NULs
};

// The variables IIS knows for every request, empty when the request had none.
enum known_variable {
  remote_addr, remote_host, remote_user, auth_user, logon_user, request_method,
  url, query_string, local_addr, server_port, server_name, server_protocol
};
constexpr std::string_view known_names[replay_request::known_count] = {
    "REMOTE_ADDR", "REMOTE_HOST", "REMOTE_USER", "AUTH_USER", "LOGON_USER", "REQUEST_METHOD",
    "URL", "QUERY_STRING", "LOCAL_ADDR", "SERVER_PORT", "SERVER_NAME", "SERVER_PROTOCOL"};

// The always-known variable a name asks for, or known_count: by the name's
// length and one letter, which leave a single name to compare, as a script's
// every server_variable call asks.
constexpr std::size_t known_index(std::string_view name) {
  auto only = [name](known_variable v) {
    return same_name(known_names[v], name) ? static_cast<std::size_t>(v) : replay_request::known_count;
  };
  switch (name.size()) {
    case 3: return only(url);
    case 9: return only(auth_user);
    case 10: return only(ascii_upper(name[2]) == 'G' ? logon_user : local_addr);
    case 11:
      switch (ascii_upper(name[7])) {  // REMOTE_[A]DDR, SERVER_[P]ORT, ...
        case 'A': return only(remote_addr);
        case 'H': return only(remote_host);
        case 'U': return only(remote_user);
        case 'P': return only(server_port);
        default: return only(server_name);
      }
    case 12: return only(query_string);
    case 14: return only(request_method);
    case 15: return only(server_protocol);
    default: return replay_request::known_count;
  }
}

// In upper case and in lower, as the letter it picks by must be read either way.
constexpr bool known_index_finds_every_name() {
  for (std::size_t i = 0; i < replay_request::known_count; ++i) {
    const std::string_view name = known_names[i];
    char lower[16] = {};
    for (std::size_t k = 0; k < name.size(); ++k)
      lower[k] = name[k] >= 'A' && name[k] <= 'Z' ? static_cast<char>(name[k] - 'A' + 'a') : name[k];
    if (known_index(name) != i || known_index(std::string_view(lower, name.size())) != i) return false;
  }
  return true;
}
static_assert(known_index_finds_every_name(), "known_index misses a variable");

// An absent number is 0; one beyond 32 bits stays at the largest, as a DWORD
// counter of the web server would.
bool read_dword(const request_fields& fields, field_slot slot, DWORD& out, std::string& problem) {
  out = 0;
  const std::string_view* text = fields.value[slot];
  if (text == nullptr) return true;
  std::uint64_t value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') {
      problem = std::string(slot_names[slot]) + " '" + std::string(*text) + "' is not a number";
      return false;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > dword_max) value = dword_max + 1;
  }
  out = static_cast<DWORD>(value > dword_max ? dword_max : value);
  return true;
}

// The Host header without its port.
std::string_view server_name_of(const request_fields& fields) {
  const std::string_view* host = fields.value[cs_host];
  if (host == nullptr) return fields.or_empty(s_ip);
  const auto colon = host->rfind(':');
  const bool has_port = colon != std::string_view::npos && host->find(']', colon) == std::string_view::npos;
  return has_port ? host->substr(0, colon) : *host;
}

// A header field's variable name ("cs(User-Agent)" as "HTTP_USER_AGENT") at
// out, which has room for field.size() + 1 bytes; its length.
std::size_t write_header_name(char* out, std::string_view field) {
  const std::string_view label = field.substr(3, field.size() - 4);
  std::memcpy(out, "HTTP_", 5);
  for (std::size_t i = 0; i < label.size(); ++i) out[5 + i] = label[i] == '-' ? '_' : ascii_upper(label[i]);
  return 5 + label.size();
}

// The bytes fill writes into text_: the NUL at 0, the values of the variables
// with a NUL each (SERVER_NAME its own copy), each header's name and value.
std::size_t text_size(const request_fields& fields) {
  std::size_t size = 1 + fields.header_bytes;
  for (int slot = c_ip; slot < cs_host; ++slot)
    if (fields.value[slot]) size += fields.value[slot]->size() + 1;
  size += server_name_of(fields).size() + 1;
  if (fields.value[cs_host]) size += sizeof "HTTP_HOST" + fields.value[cs_host]->size() + 1;
  return size;
}

// Beyond these a sent request gives its memory back.
constexpr std::size_t kept_text_bytes = 64 * 1024;
constexpr std::size_t kept_headers = 256;

// Up to this many headers a new one is compared with each; beyond, they are
// looked up in a set, so that a log of thousands of columns stays linear.
constexpr std::size_t few_headers = 16;

// IIS answers these in UTF-16, ended by two zero bytes.
bool is_wide_name(std::string_view name) {
  // The first letter turns most names away before any comparison.
  return name.size() >= 8 && ascii_upper(name[0]) == 'U' && same_name(name.substr(0, 8), "UNICODE_");
}

// The variable whose UTF-16 form a UNICODE_ name asks for; IIS offers the
// decoded URL (also as PATH_INFO, the URL for a request without a script
// mapping, as a replayed one is) and the user names. Its log holds them as
// UTF-8, or in the server's code page when it was set to write so.
std::string_view wide_source(std::string_view name) {
  const std::string_view base = name.substr(8);
  if (same_name(base, "PATH_INFO")) return "URL";
  for (std::string_view known : {"URL", "REMOTE_USER", "AUTH_USER", "LOGON_USER"})
    if (same_name(base, known)) return known;
  return std::string_view();  // none: no such variable
}

}  // namespace

std::string header_variable_name(std::string_view field) {
  if (!is_header_field(field)) return std::string();
  std::string name(field.size() + 1, '\0');
  name.resize(write_header_name(&name[0], field));
  return name;
}

replay_request::replay_request() { reset_records(); }

void replay_request::reset_records() noexcept {
  context_ = HTTP_FILTER_CONTEXT{};
  context_.cbSize = sizeof context_;
  context_.Revision = HTTP_FILTER_REVISION;
  context_.ServerContext = this;
  context_.GetServerVariable = &replay_get_server_variable;
  log_ = HTTP_FILTER_LOG{};
}

std::unique_ptr<replay_request> replay_request::from_entry(const log_entry& entry, std::string& problem) {
  auto request = std::make_unique<replay_request>();
  if (!request->fill(entry, problem)) return nullptr;
  return request;
}

bool replay_request::fill(const log_entry& entry, std::string& problem) {
  reset_records();
  const request_fields fields(entry);
  if (!read_dword(fields, sc_status, log_.dwHttpStatus, problem) ||
      !read_dword(fields, sc_win32_status, log_.dwWin32Status, problem) ||
      !read_dword(fields, sc_bytes, log_.dwBytesSent, problem) ||
      !read_dword(fields, cs_bytes, log_.dwBytesRecvd, problem) ||
      !read_dword(fields, time_taken, log_.msTimeForProcessing, problem))
    return false;

  text_.resize(text_size(fields));  // once, so that writing needs no checks
  text_[0] = '\0';
  used_ = 1;
  headers_.clear();
  header_names_.clear();

  known_[remote_addr] = known_[remote_host] = append(fields.or_empty(c_ip));
  known_[remote_user] = known_[auth_user] = known_[logon_user] = append(fields.or_empty(cs_username));
  known_[request_method] = append(fields.or_empty(cs_method));
  known_[url] = append(fields.or_empty(cs_uri_stem));
  known_[query_string] = append(fields.or_empty(cs_uri_query));
  known_[local_addr] = append(fields.or_empty(s_ip));
  known_[server_port] = append(fields.or_empty(s_port));
  known_[server_name] = append(server_name_of(fields));
  known_[server_protocol] = append(fields.or_empty(cs_version));
  // Request headers exist only when the request carried them.
  if (fields.value[cs_host]) add_header("cs(host)", *fields.value[cs_host]);
  for (const auto& field : entry.fields)
    if (is_header_field(field.name)) add_header(field.name, field.value);

  // The record's texts point into text_, which changes no more.
  log_.pszClientHostName = c_str(known_[remote_addr]);
  log_.pszClientUserName = c_str(known_[remote_user]);
  log_.pszOperation = c_str(known_[request_method]);
  log_.pszTarget = c_str(known_[url]);
  log_.pszParameters = c_str(known_[query_string]);
  log_.pszServerName = c_str(known_[server_name]);
  return true;
}

void replay_request::release_long_line() noexcept {
  if (text_.capacity() <= kept_text_bytes && headers_.capacity() <= kept_headers) return;
  std::string().swap(text_);
  std::vector<header>().swap(headers_);
  std::unordered_set<std::string_view>().swap(header_names_);
  for (piece& p : known_) p = piece{};
  reset_records();
}

// The empty value is the NUL at 0.
replay_request::piece replay_request::append(std::string_view value) {
  if (value.empty()) return piece{};
  const piece added{used_, value.size()};
  std::memcpy(&text_[used_], value.data(), value.size());
  text_[used_ + value.size()] = '\0';
  used_ += value.size() + 1;
  return added;
}

// False when the request has that header already: the first counts.
bool replay_request::add_header(std::string_view field, std::string_view value) {
  const piece name{used_, write_header_name(&text_[used_], field)};
  if (headers_.size() < few_headers) {
    for (const header& known : headers_)
      if (view(known.name) == view(name)) return false;
  } else {
    if (header_names_.empty())
      for (const header& known : headers_) header_names_.insert(view(known.name));
    if (!header_names_.insert(view(name)).second) return false;
  }
  used_ += name.size;
  headers_.push_back({name, append(value)});
  return true;
}

std::optional<std::string_view> replay_request::variable(std::string_view name) const noexcept {
  const std::size_t known = known_index(name);
  if (known < known_count) return view(known_[known]);
  for (const header& h : headers_)
    if (same_name(view(h.name), name)) return view(h.value);
  return std::nullopt;
}

BOOL WINAPI replay_get_server_variable(HTTP_FILTER_CONTEXT* context, LPSTR name, LPVOID buffer,
                                       LPDWORD size) {
  if (context == nullptr || context->ServerContext == nullptr || name == nullptr || size == nullptr)
    return FALSE;
  const auto* request = static_cast<const replay_request*>(context->ServerContext);
  const std::string_view asked(name);
  const bool wide = is_wide_name(asked);
  std::optional<std::string_view> value = request->variable(wide ? wide_source(asked) : asked);
  if (!value) {
    platform::set_last_error_no_such_variable();
    return FALSE;
  }
  const std::size_t room = buffer != nullptr ? *size : 0;
  const std::size_t terminator = wide ? 2 : 1;
  // UTF-16 straight into the buffer when it fits, which it leaves alone otherwise.
  const std::size_t value_size =
      wide ? log_text_to_utf16le(*value, static_cast<char*>(buffer), room < terminator ? 0 : room - terminator)
           : value->size();
  const std::uint64_t needed = value_size + terminator;
  if (needed > dword_max) return FALSE;
  if (needed > room) {
    *size = static_cast<DWORD>(needed);
    platform::set_last_error_buffer_too_small();
    return FALSE;
  }
  char* const out = static_cast<char*>(buffer);
  if (!wide) std::memcpy(out, value->data(), value_size);
  out[value_size] = '\0';
  if (wide) out[value_size + 1] = '\0';
  *size = static_cast<DWORD>(needed);
  return TRUE;
}
