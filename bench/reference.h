// The reference workload every benchmark shares: a script whose on_enqueue
// reads three server variables and the five numbers into an eight-field table,
// a trivial on_dequeue, and one finished request to feed it.
#pragma once

#include <httpfilt.h>

#include <string>

// The reference script's text.
extern const char reference_script[];

// A finished request answering the three server variables the script reads.
// The same instance may be notified from any number of threads at once.
struct reference_request {
  reference_request();
  reference_request(const reference_request&) = delete;
  reference_request& operator=(const reference_request&) = delete;

  HTTP_FILTER_CONTEXT context{};
  HTTP_FILTER_LOG log{};
};

// A scratch directory holding the reference script, removed with the object.
class script_directory {
 public:
  script_directory();
  ~script_directory();
  script_directory(const script_directory&) = delete;
  script_directory& operator=(const script_directory&) = delete;

  const std::string& path() const { return path_; }
  const std::string& script_path() const { return script_path_; }

 private:
  std::string path_;
  std::string script_path_;
};
