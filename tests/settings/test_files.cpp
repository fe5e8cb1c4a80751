#include "tests/settings/test_files.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

class temp_directory {
 public:
  temp_directory() {
    std::random_device random;
    do path_ = fs::temp_directory_path() / ("quillharbor-settings-" + std::to_string(random()));
    while (!fs::create_directory(path_));
    text_ = path_.string();
  }
  ~temp_directory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  temp_directory(const temp_directory&) = delete;
  temp_directory& operator=(const temp_directory&) = delete;

  const std::string& text() const { return text_; }

 private:
  fs::path path_;
  std::string text_;
};

}  // namespace

const std::string& test_directory() {
  static const temp_directory directory;
  return directory.text();
}

std::string write_test_file(const std::string& name, const std::string& bytes) {
  const std::string path = (fs::path(test_directory()) / name).string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
  return path;
}
