#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "settings/load_settings.h"
#include "tests/settings/test_files.h"

namespace {

struct production_values {
  std::string trace_path;
  std::int64_t trace_max_size;
  std::int32_t queue_limit;
  std::int32_t drain_limit;
  std::int32_t time_limit;
};

struct production_case {
  const char* name;
  std::string body;  // inside <setting>
  production_values expected;
};

TEST(load_settings, reads_the_production_settings_by_the_rules_of_the_others) {
  const production_case cases[] = {
      {"none: all off", "<queue process_interval='5'/><script path='s' pool_size='2'/>", {"", 0, 0, 0, 0}},
      {"all set",
       "<trace path='D:\\logs\\t.log' max_size='10485760'/><queue limit='100000' drain_limit='60000'/>"
       "<script path='s' time_limit='5000'/>",
       {"D:\\logs\\t.log", 10485760, 100000, 60000, 5000}},
      {"max_size takes 64 bits", "<trace path='t' max_size='9223372036854775807'/>",
       {"t", INT64_MAX, 0, 0, 0}},
      {"max_size beyond 64 bits keeps the value",
       "<trace path='t' max_size='7'/><trace path='t' max_size='9223372036854775808'/>", {"t", 7, 0, 0, 0}},
      {"below 0 becomes 0", "<trace path='t' max_size='-5'/><queue limit='-3' drain_limit='-1'/>"
                            "<script time_limit='-2147483648'/>",
       {"t", 0, 0, 0, 0}},
      {"not a number keeps the value, spaces and suffixes as for the others",
       "<queue limit='7' drain_limit=' 250ms'/><queue limit='x' drain_limit='y'/>"
       "<script time_limit='+9'/><script time_limit='abc'/>",
       {"", 0, 7, 250, 9}},
      {"a later element without the attribute sets it back to 0",
       "<trace path='t' max_size='9'/><queue limit='7' drain_limit='8'/><script time_limit='9'/>"
       "<trace/><queue process_interval='1'/><script path='s'/>",
       {"", 0, 0, 0, 0}},
      {"elements inside trace are ignored", "<trace path='t'><queue limit='5'/><script time_limit='5'/></trace>",
       {"t", 0, 0, 0, 0}},
      {"trace's end returns to the root's content", "<trace path='t'></trace><queue limit='4'/>",
       {"t", 0, 4, 0, 0}},
  };
  for (const production_case& c : cases) {
    SCOPED_TRACE(c.name);
    settings_record record;
    load_settings(record, write_test_file("quillharbor.setting", "<setting>" + c.body + "</setting>"));
    EXPECT_EQ(record.trace_path, c.expected.trace_path);
    EXPECT_EQ(record.trace_max_size, c.expected.trace_max_size);
    EXPECT_EQ(record.queue_limit, c.expected.queue_limit);
    EXPECT_EQ(record.drain_limit, c.expected.drain_limit);
    EXPECT_EQ(record.time_limit, c.expected.time_limit);
  }
}

}  // namespace
