#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "host/log_reader.h"
#include "host/replay_request.h"
#include "host/sample_log.h"

namespace {

std::string sample(std::uint64_t lines, std::uint64_t seed) {
  std::ostringstream out;
  write_sample_log(out, {lines, seed});
  return out.str();
}

TEST(sample_log, is_the_same_for_the_same_seed) {
  EXPECT_EQ(sample(500, 1), sample(500, 1));
  EXPECT_NE(sample(500, 1), sample(500, 2));
}

TEST(sample_log, parses_whole_with_several_field_blocks_and_varied_requests) {
  std::istringstream in(sample(20000, 1));
  log_reader reader(in, log_format::automatic);
  log_entry entry;
  line_result result;
  std::uint64_t requests = 0, fields_blocks = 0;
  std::set<DWORD> statuses;
  std::set<std::string> agents, urls;
  DWORD slowest = 0;
  while (reader.next(entry, result)) {
    ASSERT_NE(result.kind, line_kind::malformed) << reader.line_number() << ": " << result.problem;
    if (result.kind != line_kind::request) continue;
    std::string problem;
    auto request = replay_request::from_entry(entry, problem);
    ASSERT_TRUE(request) << reader.line_number() << ": " << problem;
    ++requests;
    statuses.insert(request->log()->dwHttpStatus);
    if (const auto agent = request->variable("HTTP_USER_AGENT")) agents.emplace(*agent);
    urls.emplace(*request->variable("URL"));
    if (request->log()->msTimeForProcessing > slowest) slowest = request->log()->msTimeForProcessing;
  }
  std::istringstream again(sample(20000, 1));
  for (std::string line; std::getline(again, line);)
    if (line.rfind("#Fields:", 0) == 0) ++fields_blocks;

  EXPECT_EQ(requests, 20000u);
  EXPECT_GE(fields_blocks, 3u);
  EXPECT_GE(statuses.size(), 6u);
  EXPECT_GE(agents.size(), 8u);
  EXPECT_GE(urls.size(), 12u);
  EXPECT_GT(slowest, 2000u);
  EXPECT_TRUE(urls.count("/reports/annual report 2025.pdf")) << "a '+' in the log is a space";
}

}  // namespace
