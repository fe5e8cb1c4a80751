#include "script_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "filter/diagnostics.h"

namespace {

std::string unique_script_path() {
  static std::atomic<unsigned> counter{0};
  static const unsigned run = std::random_device{}();
  const auto dir = std::filesystem::temp_directory_path();
  return (dir / ("qh_script_" + std::to_string(run) + "_" + std::to_string(counter++) + ".lua"))
      .string();
}

}  // namespace

temp_script::temp_script(const std::string& source) : path_(unique_script_path()) {
  std::ofstream out(path_, std::ios::binary);
  out << source;
}

temp_script::~temp_script() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

opened_script::opened_script(const std::string& source) : file_(source), state_(new script_state) {
  try {
    open_script_state(*state_, file_.path());
  } catch (...) {
    delete state_;
    throw;
  }
}

opened_script::~opened_script() { close_script_state(state_); }

std::string opened_script::eval(const std::string& chunk) {
  lua_State* L = state_->L;
  const int top = lua_gettop(L);
  std::string result;
  if (luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, 1, 0) != 0) {
    const char* message = lua_tostring(L, -1);
    result = std::string("error: ") + (message ? message : "?");
  } else {
    lua_getfield(L, LUA_GLOBALSINDEX, "tostring");
    lua_insert(L, -2);
    lua_call(L, 1, 1);
    result = lua_tostring(L, -1);
  }
  lua_settop(L, top);
  return result;
}

trace_capture::trace_capture() { set_outlets(nullptr, &trace_capture::on_line, this); }

trace_capture::~trace_capture() { set_outlets(nullptr, nullptr, nullptr); }

std::vector<std::string> trace_capture::texts() const {
  std::lock_guard<std::mutex> hold(lock_);
  return texts_;
}

void trace_capture::on_line(void* context, const char* line) {
  auto* self = static_cast<trace_capture*>(context);
  std::string text(line);
  // "[thread] text\n": keep the text.
  const auto start = text.find("] ");
  if (start != std::string::npos) text.erase(0, start + 2);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  std::lock_guard<std::mutex> hold(self->lock_);
  self->texts_.push_back(text);
}

fake_server::fake_server() {
  context.cbSize = sizeof context;
  context.ServerContext = this;
  context.GetServerVariable = &fake_server::get_server_variable;
  handle.filter_context = &context;
  handle.log_record = &log;
}

BOOL WINAPI fake_server::get_server_variable(HTTP_FILTER_CONTEXT* context, LPSTR name,
                                             LPVOID buffer, LPDWORD size) {
  auto* self = static_cast<fake_server*>(context->ServerContext);
  self->asked.push_back(name);
  if (self->fills_without_nul) {
    std::memset(buffer, 'x', *size);
    return TRUE;
  }
  const auto found = self->variables.find(name);
  if (found == self->variables.end()) return FALSE;
  const std::string& value = found->second;
  if (value.size() + 1 > *size) {
    *size = static_cast<DWORD>(value.size() + 1);
    return FALSE;
  }
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  *size = static_cast<DWORD>(value.size() + 1);
  return TRUE;
}
