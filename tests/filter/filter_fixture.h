// A fresh module in a fresh directory per test, with a script and settings.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/fake_request.h"
#include "tests/support/loaded_module.h"

class filter_fixture : public ::testing::Test {
 protected:
  // Writes the script and settings beside the module, loads the module and
  // calls GetFilterVersion.
  BOOL load(const std::string& script, int pool_size = 1, int process_interval = 0) {
    const auto script_path = dir.write("script.lua", script);
    dir.write("quillharbor.setting", settings_text(script_path, pool_size, process_interval));
    return load_with_settings_only();
  }
  BOOL load_with_settings_only() {
    module = std::make_unique<loaded_module>(dir.path());
    return module->get_filter_version(&version);
  }

  DWORD notify(fake_request& request) {
    return module->http_filter_proc(&request.context, SF_NOTIFY_LOG, &request.log);
  }

  std::vector<std::string> traces() const { return module->capture().trace_texts(); }
  std::vector<captured_event> events() const { return module->capture().events(); }

  scratch_directory dir;
  std::unique_ptr<loaded_module> module;
  HTTP_FILTER_VERSION version{};
};
