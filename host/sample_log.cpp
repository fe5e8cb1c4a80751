#include "host/sample_log.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// splitmix64: fixed arithmetic, so every platform draws the same numbers.
class random_numbers {
 public:
  explicit random_numbers(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }
  bool chance(unsigned percent) { return below(100) < percent; }
  template <typename T>
  const T& pick(const std::vector<T>& items) { return items[below(items.size())]; }

 private:
  std::uint64_t state_;
};

struct page {
  const char* stem;
  unsigned weight;
  unsigned min_bytes, max_bytes;
  unsigned typical_ms;
  bool dynamic;
};

const std::vector<page> pages = {
    {"/", 12, 8000, 14000, 40, true},
    {"/index.html", 6, 9000, 12000, 5, false},
    {"/css/site.css", 10, 20000, 24000, 2, false},
    {"/js/app.js", 10, 90000, 120000, 3, false},
    {"/images/logo.png", 8, 15000, 16000, 2, false},
    {"/favicon.ico", 5, 1100, 1200, 1, false},
    {"/robots.txt", 1, 60, 80, 1, false},
    {"/api/orders", 9, 400, 6000, 120, true},
    {"/api/orders/details", 6, 800, 3000, 80, true},
    {"/api/search", 8, 1000, 30000, 200, true},
    {"/api/export", 1, 200000, 5000000, 2500, true},
    {"/login.aspx", 4, 3000, 5000, 60, true},
    {"/account/profile", 3, 4000, 7000, 90, true},
    {"/reports/annual report 2025.pdf", 1, 800000, 900000, 150, false},
    {"/wp-login.php", 1, 1200, 1300, 2, false},
    {"/old/page.htm", 1, 1200, 1300, 2, false},
};

const std::vector<std::string> agents = {
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.0.0 Safari/537.36",
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.0.0 Safari/537.36 Edg/131.0.0.0",
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:133.0) Gecko/20100101 Firefox/133.0",
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_6) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/18.1 Safari/605.1.15",
    "Mozilla/5.0 (iPhone; CPU iPhone OS 18_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/18.1 Mobile/15E148 Safari/604.1",
    "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.0.0 Mobile Safari/537.36",
    "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
    "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)",
    "curl/8.5.0",
    "python-requests/2.32.3",
};

const std::vector<std::string> referers = {
    "-", "-", "-", "https://www.example.com/", "https://www.example.com/api/search?q=shoes",
    "https://www.bing.com/search?q=example+shop", "https://www.google.com/",
};

const std::vector<std::string> searches = {"q=blue+shoes", "q=red%20hat&page=2", "q=gift&sort=price",
                                           "q=socks", "q=%C3%A9t%C3%A9&lang=fr"};

const std::vector<std::string> users = {"alice", "bob", "CONTOSO\\carol", "dave"};

struct field_block {
  const char* fields;
  bool has_bytes, has_host, has_cookie, has_version;
};

// IIS's default columns first; later restarts log more of them, in IIS's order.
const std::vector<field_block> blocks = {
    {"date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip cs(User-Agent) "
     "cs(Referer) sc-status sc-substatus sc-win32-status time-taken",
     false, false, false, false},
    {"date time s-sitename s-computername s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip "
     "cs-version cs(User-Agent) cs(Cookie) cs(Referer) cs-host sc-status sc-substatus sc-win32-status "
     "sc-bytes cs-bytes time-taken",
     true, true, true, true},
    {"date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip cs(User-Agent) "
     "cs(Referer) cs-host sc-status sc-substatus sc-win32-status sc-bytes cs-bytes time-taken",
     true, true, false, false},
};

// IIS writes spaces inside a value as "+".
std::string logged(std::string value) {
  if (value.empty()) return "-";
  for (char& c : value)
    if (c == ' ') c = '+';
  return value;
}

std::string client_address(random_numbers& random) {
  const std::uint64_t client = random.below(400);
  if (client % 10 == 9) return "2001:db8::" + std::to_string(100 + client);
  static const char* nets[] = {"192.0.2.", "198.51.100.", "203.0.113."};
  return std::string(nets[client % 3]) + std::to_string(1 + client % 250);
}

struct response {
  unsigned status = 200, substatus = 0, win32 = 0;
};

response respond(random_numbers& random, const page& p, const std::string& method, bool user) {
  response r;
  const std::string stem = p.stem;
  if (stem == "/wp-login.php" || stem == "/old/page.htm") {
    r.status = 404;
    r.win32 = 2;
  } else if (stem == "/account/profile" && !user) {
    r.status = 401;
    r.substatus = 2;
    r.win32 = 5;
  } else if (stem == "/login.aspx" && method == "POST") {
    r.status = 302;
  } else if (!p.dynamic && random.chance(30)) {
    r.status = 304;
  } else if (p.dynamic && random.chance(2)) {
    r.status = 500;
  } else if (stem.rfind("/api/", 0) == 0 && random.chance(3)) {
    r.status = 400;
  }
  if (r.status == 200 && p.max_bytes > 100000 && random.chance(3)) r.win32 = 64;  // client went away
  return r;
}

void write_header(std::ostream& out, const field_block& block, unsigned seconds) {
  char date[64];
  std::snprintf(date, sizeof date, "2026-12-07 %02u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  out << "#Software: Microsoft Internet Information Services 10.0\n#Version: 1.0\n#Date: " << date
      << "\n#Fields: " << block.fields << "\n";
}

}  // namespace

void write_sample_log(std::ostream& out, const sample_log_options& options) {
  random_numbers random(options.seed);
  unsigned total_weight = 0;
  for (const auto& p : pages) total_weight += p.weight;

  // Each restart of the site starts a new header block: after 30%, 55% and 80%
  // of the day, going back to the default columns for the last one.
  const std::size_t phase_block[] = {0, 1, 2, 0};
  std::size_t phase = 0;
  write_header(out, blocks[0], 0);
  const std::uint64_t lines = options.lines;
  for (std::uint64_t i = 0; i < lines; ++i) {
    const std::size_t now_phase = i * 20 < lines * 6 ? 0 : i * 20 < lines * 11 ? 1 : i * 20 < lines * 16 ? 2 : 3;
    const unsigned seconds = static_cast<unsigned>(i * 86399 / lines);
    if (now_phase != phase) {
      phase = now_phase;
      write_header(out, blocks[phase_block[phase]], seconds);
    }
    const field_block& block = blocks[phase_block[phase]];

    unsigned draw = static_cast<unsigned>(random.below(total_weight));
    const page* p = &pages[0];
    for (const auto& candidate : pages) {
      if (draw < candidate.weight) {
        p = &candidate;
        break;
      }
      draw -= candidate.weight;
    }
    const std::string stem = p->stem;
    std::string method = "GET";
    if ((stem == "/api/orders" || stem == "/login.aspx") && random.chance(40)) method = "POST";
    else if (random.chance(1)) method = "HEAD";
    const bool user = (stem == "/account/profile" || stem.rfind("/api/", 0) == 0) && random.chance(70);
    std::string query;
    if (stem == "/api/search") query = random.pick(searches);
    else if (stem == "/api/orders/details") query = "id=" + std::to_string(10000 + random.below(90000));
    else if (stem == "/api/export") query = "format=csv&year=2025";

    const response r = respond(random, *p, method, user);
    unsigned bytes = p->min_bytes + static_cast<unsigned>(random.below(p->max_bytes - p->min_bytes + 1));
    if (r.status == 304) bytes = 180 + static_cast<unsigned>(random.below(40));
    else if (r.status >= 400) bytes = 1200 + static_cast<unsigned>(random.below(400));
    unsigned received = 350 + static_cast<unsigned>(random.below(500));
    if (method == "POST") received += 200 + static_cast<unsigned>(random.below(4000));
    // Mostly near the page's typical time, now and then far slower.
    unsigned taken = p->typical_ms / 2 + static_cast<unsigned>(random.below(p->typical_ms + 1));
    if (random.chance(2)) taken = taken * 10 + static_cast<unsigned>(random.below(3000));
    if (r.status == 304) taken = static_cast<unsigned>(random.below(3));

    char time_text[32];
    std::snprintf(time_text, sizeof time_text, "2026-12-07 %02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    const bool secure = random.chance(85);
    out << time_text;
    if (block.has_cookie) out << " W3SVC1 WEB01";
    out << " 10.0.0.5 " << method << ' ' << logged(stem) << ' ' << logged(query) << ' '
        << (secure ? "443" : "80") << ' ' << (user ? logged(random.pick(users)) : "-") << ' '
        << client_address(random);
    if (block.has_version) out << (random.chance(70) ? " HTTP/2" : " HTTP/1.1");
    out << ' ' << logged(random.pick(agents));
    if (block.has_cookie)
      out << ' '
          << (random.chance(50) ? "-" : logged("ASP.NET_SessionId=" + std::to_string(random.next() % 1000000000) +
                                                "; theme=dark"));
    out << ' ' << logged(random.pick(referers));
    if (block.has_host) out << ' ' << (stem.rfind("/api/", 0) == 0 ? "api.example.com" : "www.example.com");
    out << ' ' << r.status << ' ' << r.substatus << ' ' << r.win32;
    if (block.has_bytes) out << ' ' << bytes << ' ' << received;
    out << ' ' << taken << '\n';
  }
}
