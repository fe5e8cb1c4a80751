#include <gtest/gtest.h>

#include <string>

#include "settings/load_settings.h"
#include "tests/settings/test_files.h"

namespace {

TEST(load_settings, reads_fail_open_from_the_filter_element) {
  const struct {
    const char* body;  // inside <setting>
    bool expected;
  } cases[] = {
      {"<filter fail_open='true'/>", true},
      {"<filter fail_open='1'/>", true},
      {"<filter fail_open='TRUE'/>", false},
      {"<filter fail_open=' true'/>", false},
      {"<filter fail_open='yes'/>", false},
      {"<filter/>", false},
      {"<filter fail_open='true'/><filter/>", false},  // the last element decides
      {"<Filter fail_open='true'/>", false},
      {"<queue><filter fail_open='true'/></queue>", false},
      {"<filter fail_open='1'><script path='s' pool_size='2'/></filter><queue limit='3'/>", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    settings_record record;
    load_settings(record, write_test_file("quillharbor.setting", std::string("<setting>") + c.body + "</setting>"));
    EXPECT_EQ(record.fail_open, c.expected);
  }
  // Inside filter nothing else is read; after its end the root's content is.
  settings_record record;
  load_settings(record, write_test_file("quillharbor.setting",
                                        "<setting><filter><script pool_size='2'/></filter>"
                                        "<queue limit='3'/></setting>"));
  EXPECT_EQ(record.pool_size, 5);
  EXPECT_EQ(record.queue_limit, 3);
}

}  // namespace
