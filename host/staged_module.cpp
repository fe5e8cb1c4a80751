#include "host/staged_module.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/temp_directory.h"

namespace fs = std::filesystem;

namespace {

std::string xml_attribute(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::string settings_document(const std::string& script_path, int process_interval, int pool_size) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<setting>\n"
         "  <queue process_interval=\"" + std::to_string(process_interval) + "\"/>\n"
         "  <script path=\"" + xml_attribute(script_path) + "\" pool_size=\"" +
         std::to_string(pool_size) + "\"/>\n"
         "</setting>\n";
}

staged_module::staged_module(const std::string& module_path, const std::string& settings_text)
    : directory_(platform::make_temp_directory("quillharbor-replay-")) {
  try {
    const fs::path directory(directory_);
    const fs::path copy = directory / fs::path(module_path).filename();
    fs::copy_file(module_path, copy);
    module_path_ = copy.string();
    std::ofstream settings(directory / settings_file_name, std::ios::binary);
    settings << settings_text;
    settings.close();
    if (!settings) throw std::runtime_error("cannot write " + (directory / settings_file_name).string());
  } catch (const fs::filesystem_error& error) {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
    throw std::runtime_error(error.what());
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
    throw;
  }
}

staged_module::~staged_module() {
  std::error_code ignored;
  fs::remove_all(directory_, ignored);
}
