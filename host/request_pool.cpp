#include "host/request_pool.h"

#include <system_error>

request_pool::request_pool(filter_module::http_filter_proc_fn proc, unsigned threads, std::size_t block)
    : proc_(proc),
      block_(block == 0 ? 1 : block),
      capacity_(2 * static_cast<std::size_t>(threads == 0 ? 1 : threads)) {
  const unsigned count = threads == 0 ? 1 : threads;
  filling_.reserve(block_);
  try {
    for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { serve(); });
  } catch (const std::system_error&) {
    // A smaller pool still replays everything; none at all cannot.
    if (threads_.empty()) throw;
  }
}

request_pool::~request_pool() { finish(); }

std::unique_ptr<replay_request> request_pool::spare() {
  if (spares_.empty()) return std::make_unique<replay_request>();
  std::unique_ptr<replay_request> request = std::move(spares_.back());
  spares_.pop_back();
  return request;
}

void request_pool::submit(std::unique_ptr<replay_request> request) {
  filling_.push_back(std::move(request));
  if (filling_.size() >= block_) flush();
}

void request_pool::flush() {
  if (filling_.empty()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  // Once full, the reader waits until half is taken, so that it wakes once
  // for several blocks.
  if (waiting_.size() >= capacity_)
    room_ready_.wait(lock, [this] { return waiting_.size() <= capacity_ / 2; });
  waiting_.push_back(std::move(filling_));
  // A block given back becomes the spares and, emptied, the next to fill.
  block_type given_back;
  if (!sent_blocks_.empty()) {
    given_back = std::move(sent_blocks_.back());
    sent_blocks_.pop_back();
  }
  lock.unlock();
  work_ready_.notify_one();
  for (auto& request : given_back) spares_.push_back(std::move(request));
  given_back.clear();
  filling_ = std::move(given_back);
  filling_.reserve(block_);
}

void request_pool::finish() noexcept {
  try {
    flush();
  } catch (...) {
    // Only the block's allocation can fail here; what it held is dropped.
    filling_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  work_ready_.notify_all();
  for (auto& thread : threads_)
    if (thread.joinable()) thread.join();
}

void request_pool::serve() {
  block_type block;
  for (;;) {
    bool room = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!block.empty()) sent_blocks_.push_back(std::move(block));
      work_ready_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      block = std::move(waiting_.front());
      waiting_.pop_front();
      room = waiting_.size() <= capacity_ / 2;
    }
    if (room) room_ready_.notify_one();
    for (auto& request : block) {
      proc_(request->context(), SF_NOTIFY_LOG, request->log());
      request->release_long_line();
      sent_.fetch_add(1, std::memory_order_relaxed);
    }
  }
}
