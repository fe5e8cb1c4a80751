// Reads back what a trace file holds, line by line, for the tests that make
// its disk fail.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

// The writers' lines: "line <n> " and 60 x.
inline std::string writer_text(int n) { return "line " + std::to_string(n) + " " + std::string(60, 'x'); }

struct trace_tally {
  std::size_t whole = 0;         // writer lines and the loss notices, whole
  std::uint64_t noted_lost = 0;  // the sum of N over "N trace lines lost"
  std::size_t cut = 0;           // lines cut short, then ended
  std::size_t glued = 0;         // lines holding more than one stamp
  bool unfinished = false;       // bytes after the last line end
};

inline void tally_into(trace_tally& tally, const std::string& bytes) {
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = bytes.substr(start, end - start);
    const std::size_t text = line.find("] ");
    if (line.find("Z [", line.find("Z [") + 1) != std::string::npos) ++tally.glued;
    const std::string body = text == std::string::npos ? std::string() : line.substr(text + 2);
    const std::string lost = " trace lines lost";
    if (body.size() > lost.size() && body.compare(body.size() - lost.size(), lost.size(), lost) == 0) {
      tally.noted_lost += std::strtoull(body.c_str(), nullptr, 10);
    } else if ((body.rfind("line ", 0) == 0 && body.size() > 60 &&
                body.find_first_not_of('x', body.size() - 60) == std::string::npos &&
                body[body.size() - 61] == ' ') ||
               body.find("can be created again") != std::string::npos) {
      ++tally.whole;
    } else {
      ++tally.cut;
    }
  }
  if (start < bytes.size()) tally.unfinished = true;
}
