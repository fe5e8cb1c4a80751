// Which of load, unload and notifications may run now, for a host that does
// not keep the web server's order: one load or unload at a time, and no
// notification inside either; a load while loaded shares the running filter,
// and only the unload that gives back the last load unloads. A notification
// costs one counter increment and one decrement, with no lock.
#pragma once

#include <atomic>
#include <cstdint>

// How long unload waits for notifications that a host let run into it. The
// web server never does; a longer wait would only hold up a host that did.
constexpr std::uint32_t unload_wait_milliseconds = 3000;
constexpr char unload_gave_up[] =
    "quillharbor unload: notifications still running after 3000 ms; "
    "their script states and queues are left in memory";

class filter_gate {
 public:
  enum class phase : std::uint32_t { idle, loading, loaded, unloading, stranded };
  enum class unload_start { refused, load_given_back, last };

  // Load may start: idle becomes loading. Otherwise the phase found; nothing changes.
  bool begin_load(phase& found) noexcept;
  // A load of the loaded filter: one more load to give back. Otherwise false
  // with the phase found; nothing changes.
  bool share_load(phase& found) noexcept;
  // Loads held now: 0 unless loaded.
  std::uint32_t loads() const noexcept;
  // The load ended: loaded (by one load) when it succeeded, idle when it failed.
  void end_load(bool succeeded) noexcept;

  // An unload of a shared filter gives one load back and changes nothing else.
  // The last load's unload may start: loaded becomes unloading and no new
  // notification enters. Refused for every other phase (a second unload, one
  // racing a load).
  unload_start begin_unload() noexcept;
  // Waits up to `milliseconds` for the notifications inside to leave. True when
  // none is left; then nothing enters any more.
  bool wait_for_notifications(std::uint32_t milliseconds) noexcept;
  // The unload ended: idle, or stranded for good when notifications were still
  // inside (what they use is never freed, and no load may reuse it).
  void end_unload(bool drained) noexcept;

  // A notification enters: false when the filter is not loaded. Any thread.
  bool enter() noexcept;
  // A notification that entered leaves. Any thread.
  void leave() noexcept;

 private:
  // The phase in the low bits, the loads beyond the first above them: one word,
  // so that sharing a load and starting the last unload never cross.
  std::atomic<std::uint32_t> word_{0};
  std::atomic<std::int64_t> inside_{0};
};

// One notification inside the gate for the scope's length; test it before use.
class in_flight_pass {
 public:
  explicit in_flight_pass(filter_gate& gate) noexcept : gate_(gate), entered_(gate.enter()) {}
  ~in_flight_pass() {
    if (entered_) gate_.leave();
  }
  in_flight_pass(const in_flight_pass&) = delete;
  in_flight_pass& operator=(const in_flight_pass&) = delete;

  explicit operator bool() const noexcept { return entered_; }

 private:
  filter_gate& gate_;
  const bool entered_;
};
