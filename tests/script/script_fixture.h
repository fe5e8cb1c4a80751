// Helpers for the script tests: scripts in temporary files, opened states,
// captured trace lines and a web server that answers GetServerVariable.
#pragma once

#include <cstddef>
#include <lua.hpp>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "script/request_handle.h"
#include "script/script_state.h"

// A script file that exists for the object's lifetime.
class temp_script {
 public:
  explicit temp_script(const std::string& source);
  ~temp_script();
  temp_script(const temp_script&) = delete;
  temp_script& operator=(const temp_script&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A state opened from `source`, closed at the end of the test.
class opened_script {
 public:
  explicit opened_script(const std::string& source);
  ~opened_script();
  opened_script(const opened_script&) = delete;
  opened_script& operator=(const opened_script&) = delete;

  script_state& state() { return *state_; }
  lua_State* L() { return state_->L; }
  const std::string& path() const { return file_.path(); }
  // Runs `chunk` in the state and returns its first result as text
  // ("error: ..." when it fails). Leaves the stack as it found it.
  std::string eval(const std::string& chunk);

 private:
  temp_script file_;
  script_state* state_;
};

// Collects the text of every trace line written while it lives.
class trace_capture {
 public:
  trace_capture();
  ~trace_capture();
  trace_capture(const trace_capture&) = delete;
  trace_capture& operator=(const trace_capture&) = delete;
  std::vector<std::string> texts() const;

 private:
  static void on_line(void* context, const char* line);
  mutable std::mutex lock_;
  std::vector<std::string> texts_;
};

// One logged request, served by a GetServerVariable that keeps the web
// server's contract: FALSE for an unknown name or a value that does not fit
// with its NUL, which sets the needed size.
class fake_server {
 public:
  fake_server();
  fake_server(const fake_server&) = delete;
  fake_server& operator=(const fake_server&) = delete;

  std::map<std::string, std::string> variables;
  // Answers TRUE with the whole buffer filled and no NUL, as a faulty server might.
  bool fills_without_nul = false;
  std::vector<std::string> asked;  // names in the order they were asked for
  HTTP_FILTER_CONTEXT context{};
  HTTP_FILTER_LOG log{};
  request_handle handle{};

 private:
  static BOOL WINAPI get_server_variable(HTTP_FILTER_CONTEXT* context, LPSTR name, LPVOID buffer,
                                         LPDWORD size);
};

// Keys and values of a record, for comparisons.
using field_map = std::map<std::string, std::string>;
