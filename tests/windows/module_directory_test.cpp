// Where the module looks for its settings file, as Windows names the place.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/module_directory.h"

namespace fs = std::filesystem;

namespace {

using probe_function = void (*)(char*, std::size_t);

// The probe module copied to `directory` and loaded from there; the copy goes
// again with the destructor.
class placed_probe {
 public:
  explicit placed_probe(const fs::path& directory)
      : path_(directory / ("quillharbor-probe-" + std::to_string(std::random_device()()) + ".dll")) {
    fs::copy_file(QUILLHARBOR_PROBE_MODULE, path_);
  }
  ~placed_probe() {
    library_.reset();
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  placed_probe(const placed_probe&) = delete;
  placed_probe& operator=(const placed_probe&) = delete;

  std::string module_directory() {
    library_ = std::make_unique<platform::dynamic_library>(path_.string());
    const auto probe = reinterpret_cast<probe_function>(
        library_->symbol("quillharbor_probe_module_directory"));
    if (probe == nullptr) throw std::runtime_error("the probe exports nothing");
    char directory[1024];
    probe(directory, sizeof directory);
    return directory;
  }

 private:
  fs::path path_;
  std::unique_ptr<platform::dynamic_library> library_;
};

TEST(module_directory, is_the_directory_of_the_program_it_is_linked_into) {
  const std::string directory = platform::module_directory();
  ASSERT_FALSE(directory.empty());
  EXPECT_NE(directory.back(), '\\');
  EXPECT_TRUE(fs::exists(directory + platform::path_separator() + QUILLHARBOR_TEST_PROGRAM)) << directory;
}

TEST(module_directory, of_a_module_is_its_own_not_the_programs) {
  const fs::path elsewhere = fs::temp_directory_path();
  placed_probe probe(elsewhere);
  const std::string directory = probe.module_directory();
  EXPECT_NE(directory, platform::module_directory());
  // Compared as text: the directory names one place in one spelling here.
  EXPECT_EQ(fs::path(directory) / "x", elsewhere / "x");
  EXPECT_NE(directory.back(), '\\');
}

TEST(module_directory, of_a_module_in_a_drives_root_keeps_its_backslash) {
  const char* drive = std::getenv("SystemDrive");
  const fs::path root = std::string(drive != nullptr ? drive : "C:") + "\\";
  std::unique_ptr<placed_probe> probe;
  try {
    probe = std::make_unique<placed_probe>(root);
  } catch (const fs::filesystem_error& e) {
    GTEST_SKIP() << "cannot write into " << root << ": " << e.what();
  }
  EXPECT_EQ(probe->module_directory(), root.string());
}

}  // namespace
