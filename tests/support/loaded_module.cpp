#include "tests/support/loaded_module.h"

#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::vector<captured_event> outlet_capture::events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<std::string> outlet_capture::trace_lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> outlet_capture::trace_texts() const {
  std::vector<std::string> texts;
  for (const std::string& line : trace_lines()) {
    const auto start = line.find("] ");
    std::string text = start == std::string::npos ? line : line.substr(start + 2);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    texts.push_back(text);
  }
  return texts;
}

void QUILLHARBOR_CALL outlet_capture::on_event(void* self, unsigned short type, unsigned int id,
                                               const char* text) {
  auto* capture = static_cast<outlet_capture*>(self);
  std::lock_guard<std::mutex> lock(capture->mutex_);
  capture->events_.push_back({type, id, text});
}

void QUILLHARBOR_CALL outlet_capture::on_trace(void* self, const char* line) {
  auto* capture = static_cast<outlet_capture*>(self);
  std::lock_guard<std::mutex> lock(capture->mutex_);
  capture->lines_.emplace_back(line);
}

scratch_directory::scratch_directory() {
  std::random_device random;
  path_ = fs::temp_directory_path() /
          ("quillharbor-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
  fs::create_directories(path_);
}

scratch_directory::~scratch_directory() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

fs::path scratch_directory::write(const std::string& name, const std::string& content) const {
  const fs::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

std::string scratch_directory::read(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string settings_text(const fs::path& script, int pool_size, int process_interval) {
  std::ostringstream text;
  text << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<setting>\n"
       << "  <queue process_interval=\"" << process_interval << "\"/>\n"
       << "  <script path=\"" << script.string() << "\" pool_size=\"" << pool_size << "\"/>\n"
       << "</setting>\n";
  return text.str();
}

namespace {

template <typename Function>
Function symbol(const platform::dynamic_library& library, const char* name) {
  void* found = library.symbol(name);
  if (found == nullptr) throw std::runtime_error(std::string("module lacks ") + name);
  return reinterpret_cast<Function>(found);
}

}  // namespace

loaded_module::loaded_module(const fs::path& dir, bool capture_outlets) {
  const fs::path copy = dir / fs::path(QUILLHARBOR_MODULE_PATH).filename();
  fs::copy_file(QUILLHARBOR_MODULE_PATH, copy, fs::copy_options::overwrite_existing);
  library_ = std::make_unique<platform::dynamic_library>(copy.string());
  get_filter_version_ = symbol<decltype(get_filter_version_)>(*library_, "GetFilterVersion");
  http_filter_proc_ = symbol<decltype(http_filter_proc_)>(*library_, "HttpFilterProc");
  terminate_filter_ = symbol<decltype(terminate_filter_)>(*library_, "TerminateFilter");
  const auto set_outlets =
      symbol<quillharbor_set_outlets_fn>(*library_, QUILLHARBOR_SET_OUTLETS_SYMBOL);
  if (capture_outlets) set_outlets(&outlet_capture::on_event, &outlet_capture::on_trace, &capture_);
}

// Unloaded before the capture goes, which the module may still call while it unloads.
loaded_module::~loaded_module() { library_.reset(); }
