// Many notifications from eight threads through the loaded module: every kept
// record reaches on_dequeue exactly once and in each thread's order, and the
// heap is back to its level once the filter is unloaded.
#include <malloc.h>

#include <sstream>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocators count for themselves; gcc ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "tests/reliability/reliability_fixture.h"

#ifndef QUILLHARBOR_LOAD_NOTIFICATIONS
#define QUILLHARBOR_LOAD_NOTIFICATIONS 1000000
#endif

namespace {

constexpr int threads = 8;
constexpr int per_thread = QUILLHARBOR_LOAD_NOTIFICATIONS / threads;

// The script checks the order itself, so that a million records cost no
// trace lines: on_term reports what it counted.
const char* const counting_script = R"(
local count, out_of_order, misnumbered = 0, 0, 0
local next_seq = {}
function on_init() return true end
function on_enqueue(h)
  local c = enqueue_context.new(h)
  local seq = tonumber(c:server_variable('SEQ'))
  if seq % 7 == 3 then return false end
  return true, {thread = c:server_variable('THREAD'), seq = seq}
end
function on_dequeue(f, n)
  local seq = tonumber(f.seq)
  local want = next_seq[f.thread] or 0
  if want % 7 == 3 then want = want + 1 end
  if seq ~= want then out_of_order = out_of_order + 1 end
  next_seq[f.thread] = seq + 1
  if n ~= count then misnumbered = misnumbered + 1 end
  count = count + 1
end
function on_term()
  local last = {}
  for t, s in pairs(next_seq) do last[#last + 1] = t .. ':' .. s end
  table.sort(last)
  ndebug(string.format('count=%d out_of_order=%d misnumbered=%d', count, out_of_order, misnumbered))
  ndebug(table.concat(last, ' '))
  return true
end
)";

// Bytes the program holds on its heap, as its allocator counts them.
std::size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

void send_from_threads(reliability_fixture& fixture, loaded_module& module, int count) {
  (void)fixture;
  std::vector<std::thread> senders;
  for (int t = 0; t < threads; ++t) {
    senders.emplace_back([&module, t, count] {
      fake_request request;
      request.set_variable("THREAD", std::to_string(t));
      for (int i = 0; i < count; ++i) {
        request.set_variable("SEQ", std::to_string(i));
        module.http_filter_proc(&request.context, SF_NOTIFY_LOG, &request.log);
      }
    });
  }
  for (auto& sender : senders) sender.join();
}

std::string expected_summary(int count) {
  int kept = 0;
  for (int i = 0; i < count; ++i) kept += i % 7 != 3;
  std::ostringstream text;
  text << "count=" << kept * threads << " out_of_order=0 misnumbered=0";
  return text.str();
}

std::string expected_last(int count) {
  int last = count - 1;
  while (last % 7 == 3) --last;
  std::ostringstream text;
  for (int t = 0; t < threads; ++t) text << (t > 0 ? " " : "") << t << ':' << last + 1;
  return text.str();
}

using load_test = reliability_fixture;

TEST_F(load_test, every_kept_record_arrives_once_in_order_and_memory_returns) {
  const auto script = dir.write("script.lua", counting_script);
  dir.write("quillharbor.setting", settings_text(script, 4));

  // A first small run settles what the process sets up once (thread stacks,
  // the settings record) before the heap is measured.
  ASSERT_EQ(load_as_is(), TRUE);
  send_from_threads(*this, *module, 100);
  ASSERT_EQ(unload(), TRUE);
  ASSERT_EQ(traces().size(), 2u);
  EXPECT_EQ(traces()[0], expected_summary(100));
  const std::size_t heap_before = heap_in_use();

  ASSERT_EQ(module->get_filter_version(&version), TRUE);
  send_from_threads(*this, *module, per_thread);
  ASSERT_EQ(unload(), TRUE);
  const std::size_t heap_after = heap_in_use();

  const auto lines = traces();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], expected_summary(per_thread));
  EXPECT_EQ(lines[3], expected_last(per_thread));
  // Caches of the C library and the capture's lines move the level by a few
  // kilobytes; a leak of a byte per notification would show a megabyte here.
  EXPECT_LT(heap_after, heap_before + 64 * 1024) << heap_before << " -> " << heap_after;
}

}  // namespace
