// Windows only: receives the debugger output as a debugger-output viewer does,
// through the shared buffer "DBWIN_BUFFER" and its two events. For tests that
// read back what the module writes with OutputDebugStringA.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Listens to the debugger output of this session from construction to
// destruction; one listener per session at a time. Not copyable. One thread
// reads; any thread of any process writes.
class debug_output_listener {
 public:
  // Throws std::runtime_error when the buffer or its events cannot be made, or
  // when another listener already has them. One made not `taking` leaves its
  // buffer unready, as a stuck viewer does, until begin_taking().
  explicit debug_output_listener(bool taking = true);
  ~debug_output_listener();
  debug_output_listener(const debug_output_listener&) = delete;
  debug_output_listener& operator=(const debug_output_listener&) = delete;

  // The next string that this process wrote, skipping other processes' ones;
  // false when none came within `timeout_milliseconds`, a bound for a failing
  // test rather than a guess at a speed.
  bool next_line(std::string& line, std::uint32_t timeout_milliseconds);

  // Frees the buffer for the first writer of a listener made not taking.
  void begin_taking();

 private:
  struct native;
  native* native_;
};

}  // namespace platform
