// The web server's request threads: each sends one notification at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "host/filter_module.h"
#include "host/replay_request.h"

// Runs HttpFilterProc for every submitted request on one of its threads, many
// at once. Requests go to the threads in blocks of consecutive ones, so that a
// thread is woken once per block rather than once per line; each thread sends
// its requests in the order they were submitted, and gives the block back to
// be filled again, so that requests keep their memory from block to block.
// spare, submit, flush and finish belong to the one thread that feeds it.
class request_pool {
 public:
  // Lines per block by default: few wake-ups, yet the reader stays close.
  static constexpr std::size_t default_block = 64;

  // Starts the threads; throws std::system_error when none can be started.
  // block: requests handed over at once (1 hands over each on its own).
  request_pool(filter_module::http_filter_proc_fn proc, unsigned threads,
               std::size_t block = default_block);
  ~request_pool();
  request_pool(const request_pool&) = delete;
  request_pool& operator=(const request_pool&) = delete;

  // A request to fill: one whose notification has returned, or a new one.
  std::unique_ptr<replay_request> spare();

  // Adds the request to the block being filled; a full block goes to the next
  // free thread, which keeps each request, unchanged, until its HttpFilterProc
  // returned. Waits while every thread has two blocks waiting already.
  void submit(std::unique_ptr<replay_request> request);

  // Hands over the block being filled, however few it holds.
  void flush();

  // Sends what is left, then waits until every submitted notification has
  // returned and the threads ended.
  void finish() noexcept;

  std::uint64_t sent() const noexcept { return sent_.load(); }
  unsigned threads() const noexcept { return static_cast<unsigned>(threads_.size()); }

 private:
  using block_type = std::vector<std::unique_ptr<replay_request>>;

  void serve();

  filter_module::http_filter_proc_fn proc_;
  const std::size_t block_;
  block_type filling_;  // the feeding thread's own
  block_type spares_;   // the feeding thread's own: sent requests to fill again
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable room_ready_;
  std::deque<block_type> waiting_;
  std::vector<block_type> sent_blocks_;  // given back by the threads, for spares_
  std::size_t capacity_ = 0;  // blocks
  bool closing_ = false;
  std::atomic<std::uint64_t> sent_{0};
  std::vector<std::thread> threads_;
};
