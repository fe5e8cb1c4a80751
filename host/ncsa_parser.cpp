#include "host/ncsa_parser.h"

#include <string>

namespace {

// Walks one line token by token: bare words, [bracketed] and "quoted" texts.
class ncsa_tokens {
 public:
  explicit ncsa_tokens(std::string_view line) : line_(line) {}

  bool at_end() {
    skip_blanks();
    return pos_ >= line_.size();
  }

  bool word(std::string& out) {
    if (at_end()) return false;
    const std::size_t start = pos_;
    while (pos_ < line_.size() && line_[pos_] != ' ' && line_[pos_] != '\t') ++pos_;
    out.assign(line_.substr(start, pos_ - start));
    return true;
  }

  bool at(char c) { return !at_end() && line_[pos_] == c; }

  bool bracketed(std::string& out) {
    if (at_end() || line_[pos_] != '[') return false;
    const auto close = line_.find(']', pos_);
    if (close == std::string_view::npos) return false;
    out.assign(line_.substr(pos_ + 1, close - pos_ - 1));
    pos_ = close + 1;
    return true;
  }

  bool quoted(std::string& out) {
    if (at_end() || line_[pos_] != '"') return false;
    out.clear();
    for (std::size_t i = pos_ + 1; i < line_.size(); ++i) {
      const char c = line_[i];
      if (c == '"') {
        pos_ = i + 1;
        return true;
      }
      if (c == '\\' && i + 1 < line_.size() && (line_[i + 1] == '"' || line_[i + 1] == '\\')) {
        out += line_[++i];
        continue;
      }
      out += c;
    }
    return false;  // no closing quote
  }

 private:
  void skip_blanks() {
    while (pos_ < line_.size() && (line_[pos_] == ' ' || line_[pos_] == '\t')) ++pos_;
  }

  std::string_view line_;
  std::size_t pos_ = 0;
};

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

void add(log_entry& entry, const char* name, const std::string& value) {
  if (value != "-" && !value.empty()) entry.add_copy(name, value);
}

bool is_method(const std::string& word) {
  for (char c : word)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  return !word.empty();
}

// "GET /a/b?x=1 HTTP/1.1": the method, the target split at its "?", the
// protocol. Anything else ("", "hello", a TLS handshake's bytes) is a request
// the server refused before it had a method and a URL: it adds nothing.
void add_request(log_entry& entry, const std::string& request) {
  std::vector<std::string> parts;
  ncsa_tokens tokens(request);
  for (std::string part; tokens.word(part);) parts.push_back(part);
  if (parts.size() < 2 || !is_method(parts[0])) return;
  std::size_t end = parts.size();
  if (end > 2 && parts[end - 1].rfind("HTTP/", 0) == 0) --end;
  std::string target = parts[1];  // a target with blanks, as some servers log it, is whole again
  for (std::size_t i = 2; i < end; ++i) target += " " + parts[i];
  add(entry, "cs-method", parts[0]);
  const auto question = target.find('?');
  add(entry, "cs-uri-stem", target.substr(0, question));
  if (question != std::string::npos) add(entry, "cs-uri-query", target.substr(question + 1));
  if (end < parts.size()) add(entry, "cs-version", parts.back());
}

// "www.example.com:8080" or "www.example.com": the virtual host and its port.
void add_virtual_host(log_entry& entry, const std::string& host) {
  const auto colon = host.rfind(':');
  const bool has_port = colon != std::string::npos && colon + 1 < host.size() &&
                        host.find(']', colon) == std::string::npos && all_digits(host.substr(colon + 1));
  add(entry, "cs-host", has_port ? host.substr(0, colon) : host);
  if (has_port) add(entry, "s-port", host.substr(colon + 1));
}

}  // namespace

line_result parse_ncsa_line(std::string_view line, log_entry& entry) {
  ncsa_tokens tokens(line);
  if (tokens.at_end()) return {line_kind::blank, {}};
  // host ident user, or a virtual host before them
  std::string words[4], time, request, status, bytes;
  std::size_t count = 0;
  while (count < 4 && !tokens.at('[') && tokens.word(words[count])) ++count;
  if (count < 3) return malformed_line("fewer than three fields before the time");
  if (!tokens.bracketed(time)) return malformed_line("no [time] after the user");
  if (!tokens.quoted(request)) return malformed_line("no quoted request after the time");
  if (!tokens.word(status) || !tokens.word(bytes))
    return malformed_line("no status and byte count after the request");
  if (!all_digits(status)) return malformed_line("status '" + status + "' is not a number");
  if (bytes != "-" && !all_digits(bytes))
    return malformed_line("byte count '" + bytes + "' is not a number");

  const std::string* client = count == 4 ? words + 1 : words;
  entry.clear();
  if (count == 4) add_virtual_host(entry, words[0]);
  add(entry, "c-ip", client[0]);
  add(entry, "cs-username", client[2]);
  add_request(entry, request);
  add(entry, "sc-status", status);
  add(entry, "sc-bytes", bytes);

  if (tokens.at_end()) return request_line();
  std::string referer, agent;
  if (!tokens.quoted(referer) || !tokens.quoted(agent))
    return malformed_line("the combined format needs a quoted referer and a quoted agent");
  add(entry, "cs(referer)", referer);
  add(entry, "cs(user-agent)", agent);
  return request_line();
}
