#include <gtest/gtest.h>

#include "settings/load_settings.h"
#include "platform/module_directory.h"
#include "settings/settings_path.h"
#include "tests/settings/test_files.h"

namespace {

TEST(settings_path, lies_beside_the_module) {
  const std::string separator = platform::path_separator();
  const struct {
    std::string directory;
    std::string path;
  } cases[] = {
      {"/srv/filters", "/srv/filters" + separator + "quillharbor.setting"},
      {"/", "/" + separator + "quillharbor.setting"},
      {"", ""},
  };
  for (const auto& c : cases) {
    set_settings_path(c.directory);
    EXPECT_EQ(settings_path(), c.path) << c.directory;
  }
}

TEST(settings_path, is_what_load_settings_reads) {
  write_test_file("quillharbor.setting", "<setting><script path='main.lua' pool_size='3'/></setting>");
  set_settings_path(test_directory());
  settings_record record;
  load_settings(record);
  EXPECT_EQ(record.script_path, "main.lua");
  EXPECT_EQ(record.pool_size, 3);
  set_settings_path("");
}

}  // namespace
