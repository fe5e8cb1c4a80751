#include <gtest/gtest.h>

#include <string>

#include "settings/load_settings.h"
#include "tests/settings/test_files.h"

namespace {

TEST(load_settings, reads_the_variable_limit_at_least_the_first_buffer) {
  const struct {
    const char* body;  // inside <setting>
    std::int32_t expected;
  } cases[] = {
      {"<script path='s'/>", 0},
      {"<script path='s' variable_limit='65536'/>", 65536},
      {"<script variable_limit='100'/>", 2048},
      {"<script variable_limit='0'/>", 0},
      {"<script variable_limit='-5'/>", 0},
      {"<script variable_limit='9000'/><script variable_limit='x'/>", 9000},
      {"<script variable_limit='9000'/><script path='s'/>", 0},
  };
  for (const auto& c : cases) {
    settings_record record;
    load_settings(record, write_test_file("quillharbor.setting", std::string("<setting>") + c.body + "</setting>"));
    EXPECT_EQ(record.variable_limit, c.expected) << c.body;
  }
}

}  // namespace
