#include "host/module_choice.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/dynamic_library.h"

namespace fs = std::filesystem;

namespace {

// A bare --module name is the file in the current directory, never one the
// loader would find on the library path.
TEST(choose_module, a_bare_module_name_is_a_path_in_the_current_directory) {
  const fs::path dir = fs::temp_directory_path() / ("quillharbor-choice-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / platform::module_file_name()) << "module";
  std::ofstream(dir / settings_file_name) << "<setting/>";
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  replay_options options;
  options.module_path = platform::module_file_name();
  const module_choice choice = choose_module(options);
  fs::current_path(before);
  fs::remove_all(dir);

  EXPECT_EQ(choice.error, "");
  EXPECT_EQ(choice.module_path, (fs::canonical(fs::temp_directory_path()) / dir.filename() /
                                 platform::module_file_name()).string());
}

}  // namespace
