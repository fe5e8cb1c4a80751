#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "host/request_pool.h"

namespace {

// What the fake module saw; HttpFilterProc has no context argument of ours.
struct observed {
  std::mutex mutex;
  std::condition_variable changed;
  int inside = 0;
  int most_inside = 0;
  int release_at = 1;  // calls wait until this many are inside at once
  std::multiset<DWORD> statuses;
  std::set<std::thread::id> threads;
  std::atomic<int> wrong_type{0};
} seen;

DWORD WINAPI fake_filter_proc(HTTP_FILTER_CONTEXT* context, DWORD type, VOID* notification) {
  if (type != SF_NOTIFY_LOG || context == nullptr) seen.wrong_type.fetch_add(1);
  std::unique_lock<std::mutex> lock(seen.mutex);
  seen.statuses.insert(static_cast<HTTP_FILTER_LOG*>(notification)->dwHttpStatus);
  seen.threads.insert(std::this_thread::get_id());
  ++seen.inside;
  if (seen.inside > seen.most_inside) seen.most_inside = seen.inside;
  seen.changed.notify_all();
  seen.changed.wait(lock, [] { return seen.most_inside >= seen.release_at; });
  --seen.inside;
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

std::unique_ptr<replay_request> request_with_status(DWORD status) {
  log_entry entry;
  entry.fields.emplace_back("sc-status", std::to_string(status));
  std::string problem;
  return replay_request::from_entry(entry, problem);
}

TEST(request_pool, sends_every_request_from_several_threads_at_once) {
  seen.release_at = 4;  // returns only once four calls have run together
  request_pool pool(&fake_filter_proc, 4);
  for (DWORD i = 0; i < 200; ++i) pool.submit(request_with_status(i));
  pool.finish();

  EXPECT_EQ(pool.sent(), 200u);
  EXPECT_EQ(seen.statuses.size(), 200u);
  EXPECT_EQ(*seen.statuses.begin(), 0u);
  EXPECT_EQ(*seen.statuses.rbegin(), 199u);
  EXPECT_EQ(seen.most_inside, 4);
  EXPECT_EQ(seen.threads.size(), 4u);
  EXPECT_EQ(seen.inside, 0) << "finish returned while a notification ran";
  EXPECT_EQ(seen.wrong_type.load(), 0);
}

TEST(request_pool, finish_without_requests_and_twice_is_harmless) {
  request_pool pool(&fake_filter_proc, 2);
  pool.finish();
  pool.finish();
  EXPECT_EQ(pool.sent(), 0u);
}

}  // namespace
