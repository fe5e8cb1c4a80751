// One finished request as the web server hands it to a filter: its log record
// and a filter context whose GetServerVariable answers from a table.
#pragma once

#include "platform/web_server.h"

#include <map>
#include <string>

class fake_request {
 public:
  fake_request();
  fake_request(const fake_request&) = delete;
  fake_request& operator=(const fake_request&) = delete;

  void set_variable(const std::string& name, const std::string& value) { variables_[name] = value; }

  HTTP_FILTER_CONTEXT context{};
  HTTP_FILTER_LOG log{};

 private:
  static BOOL WINAPI get_server_variable(HTTP_FILTER_CONTEXT* context, LPSTR name, LPVOID buffer,
                                         LPDWORD size);
  std::map<std::string, std::string> variables_;
};
