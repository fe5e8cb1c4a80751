#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <map>
#include <thread>
#include <vector>

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

log_entry entry_with_status(const std::string& text) {
  log_entry entry;
  entry.fields.push_back({"sc-status", text});
  return entry;
}

std::unique_ptr<replay_request> request_with_status(DWORD status) {
  std::string problem;
  return replay_request::from_entry(entry_with_status(std::to_string(status)), problem);
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

std::mutex order_mutex;
std::map<std::thread::id, std::vector<DWORD>> order_seen;
std::set<HTTP_FILTER_CONTEXT*> contexts_seen;

DWORD WINAPI recording_filter_proc(HTTP_FILTER_CONTEXT* context, DWORD, VOID* notification) {
  std::lock_guard<std::mutex> lock(order_mutex);
  order_seen[std::this_thread::get_id()].push_back(static_cast<HTTP_FILTER_LOG*>(notification)->dwHttpStatus);
  contexts_seen.insert(context);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

// Requests are filled again once sent, as the replay fills them: never one
// still being sent, and so few that memory stays flat.
TEST(request_pool, each_thread_sends_its_requests_in_order_whatever_the_block) {
  for (std::size_t block : {std::size_t{1}, std::size_t{7}, request_pool::default_block}) {
    order_seen.clear();
    contexts_seen.clear();
    constexpr unsigned threads = 3;
    request_pool pool(&recording_filter_proc, threads, block);
    constexpr DWORD count = 1000;
    for (DWORD i = 0; i < count; ++i) {
      auto request = pool.spare();
      std::string problem;
      ASSERT_TRUE(request->fill(entry_with_status(std::to_string(i)), problem));
      pool.submit(std::move(request));
      if (i == 500) pool.flush();  // a part block, as a pipe's pause sends
    }
    pool.finish();
    EXPECT_EQ(pool.sent(), count) << block;
    std::set<DWORD> all;
    for (const auto& thread : order_seen) {
      EXPECT_TRUE(std::is_sorted(thread.second.begin(), thread.second.end())) << block;
      all.insert(thread.second.begin(), thread.second.end());
    }
    EXPECT_EQ(all.size(), count) << block;
    // Blocks waiting, being sent, given back and being filled.
    EXPECT_LE(contexts_seen.size(), (3 * threads + 4) * block) << block;
  }
}

}  // namespace
