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
  if (value != "-" && !value.empty()) entry.fields.emplace_back(name, value);
}

// "GET /a/b?x=1 HTTP/1.1": the method, the target split at its "?", the protocol.
bool add_request(log_entry& entry, const std::string& request) {
  if (request == "-") return true;
  std::vector<std::string> parts;
  ncsa_tokens tokens(request);
  std::string part;
  while (tokens.word(part)) parts.push_back(part);
  if (parts.size() < 2 || parts.size() > 3) return false;
  add(entry, "cs-method", parts[0]);
  const auto question = parts[1].find('?');
  add(entry, "cs-uri-stem", parts[1].substr(0, question));
  if (question != std::string::npos) add(entry, "cs-uri-query", parts[1].substr(question + 1));
  if (parts.size() == 3) add(entry, "cs-version", parts[2]);
  return true;
}

}  // namespace

line_result parse_ncsa_line(std::string_view line, log_entry& entry) {
  ncsa_tokens tokens(line);
  if (tokens.at_end()) return {line_kind::blank, {}};
  std::string host, ident, user, time, request, status, bytes;
  if (!tokens.word(host) || !tokens.word(ident) || !tokens.word(user))
    return malformed_line("fewer than three fields before the time");
  if (!tokens.bracketed(time)) return malformed_line("no [time] after the user");
  if (!tokens.quoted(request)) return malformed_line("no quoted request after the time");
  if (!tokens.word(status) || !tokens.word(bytes))
    return malformed_line("no status and byte count after the request");
  if (!all_digits(status)) return malformed_line("status '" + status + "' is not a number");
  if (bytes != "-" && !all_digits(bytes))
    return malformed_line("byte count '" + bytes + "' is not a number");

  entry.fields.clear();
  add(entry, "c-ip", host);
  add(entry, "cs-username", user);
  if (!add_request(entry, request))
    return malformed_line("request \"" + request + "\" is not: method target [protocol]");
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
