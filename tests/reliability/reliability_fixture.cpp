#include "tests/reliability/reliability_fixture.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

std::vector<std::string> waitable_capture::traces() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return traces_;
}

std::vector<captured_event> waitable_capture::events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

bool waitable_capture::wait_for(
    const std::function<bool(const std::vector<std::string>&)>& done,
    std::chrono::seconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return done(traces_); });
}

void QUILLHARBOR_CALL waitable_capture::on_event(void* self, unsigned short type, unsigned int id,
                                                 const char* text) {
  auto* capture = static_cast<waitable_capture*>(self);
  std::lock_guard<std::mutex> lock(capture->mutex_);
  capture->events_.push_back({type, id, text});
  capture->changed_.notify_all();
}

void QUILLHARBOR_CALL waitable_capture::on_trace(void* self, const char* line) {
  auto* capture = static_cast<waitable_capture*>(self);
  std::string text = line;
  const auto start = text.find("] ");
  if (start != std::string::npos) text.erase(0, start + 2);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  std::lock_guard<std::mutex> lock(capture->mutex_);
  capture->traces_.push_back(std::move(text));
  capture->changed_.notify_all();
}

BOOL reliability_fixture::load(const std::string& script, int pool_size, int process_interval) {
  const auto script_path = dir.write("script.lua", script);
  dir.write("quillharbor.setting", settings_text(script_path, pool_size, process_interval));
  return load_as_is();
}

BOOL reliability_fixture::load_as_is() {
  open_module();
  return module->get_filter_version(&version);
}

void reliability_fixture::open_module() {
  module = std::make_unique<loaded_module>(dir.path());
  // Reroute the outlets that loaded_module installed to the waitable capture.
  const auto copy = dir.path() / std::filesystem::path(QUILLHARBOR_MODULE_PATH).filename();
  void* library = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) throw std::runtime_error("the module is not loaded");
  const auto set_outlets =
      reinterpret_cast<quillharbor_set_outlets_fn>(::dlsym(library, QUILLHARBOR_SET_OUTLETS_SYMBOL));
  set_outlets(&waitable_capture::on_event, &waitable_capture::on_trace, &capture);
  ::dlclose(library);
}

std::size_t reliability_fixture::count_traces(const std::string& text) const {
  const auto all = traces();
  return static_cast<std::size_t>(std::count(all.begin(), all.end(), text));
}

std::string script_parts::text() const {
  return chunk + "\n" + on_init + "\n" + on_enqueue + "\n" + on_dequeue + "\n" + on_term + "\n";
}
