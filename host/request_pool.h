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
// at once. submit and finish belong to the one thread that feeds it.
class request_pool {
 public:
  // Starts the threads; throws std::system_error when none can be started.
  request_pool(filter_module::http_filter_proc_fn proc, unsigned threads);
  ~request_pool();
  request_pool(const request_pool&) = delete;
  request_pool& operator=(const request_pool&) = delete;

  // Hands the request to the next free thread, which destroys it after its
  // HttpFilterProc returned. Waits while every thread has work waiting already.
  void submit(std::unique_ptr<replay_request> request);

  // Waits until every submitted notification has returned and the threads ended.
  void finish() noexcept;

  std::uint64_t sent() const noexcept { return sent_.load(); }
  unsigned threads() const noexcept { return static_cast<unsigned>(threads_.size()); }

 private:
  void serve();

  filter_module::http_filter_proc_fn proc_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable room_ready_;
  std::deque<std::unique_ptr<replay_request>> waiting_;
  std::size_t capacity_ = 0;
  bool closing_ = false;
  std::atomic<std::uint64_t> sent_{0};
  std::vector<std::thread> threads_;
};
