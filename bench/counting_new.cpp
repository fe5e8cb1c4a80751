#include "bench/counting_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long long> live_allocations{0};
std::atomic<long long> live_bytes{0};
std::atomic<long long> live_heap_bytes{0};

constexpr std::size_t plain_align = alignof(std::max_align_t);

std::size_t header_size(std::size_t align) { return align < plain_align ? plain_align : align; }

// Each block keeps its requested size just before the caller's pointer, in a
// header as large as the alignment so that the pointer keeps it.
void* allocate(std::size_t size, std::size_t align) noexcept {
  const std::size_t header = header_size(align);
  void* raw = header == plain_align
                  ? std::malloc(size + header)
                  : std::aligned_alloc(header, (size + 2 * header - 1) / header * header);
  if (raw == nullptr) return nullptr;
  char* p = static_cast<char*>(raw) + header;
  reinterpret_cast<std::size_t*>(p)[-1] = size;
  live_allocations.fetch_add(1, std::memory_order_relaxed);
  live_bytes.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
  live_heap_bytes.fetch_add(static_cast<long long>(glibc_chunk_size(size)), std::memory_order_relaxed);
  return p;
}

void release(void* p, std::size_t align = 0) noexcept {
  if (p == nullptr) return;
  const std::size_t size = static_cast<const std::size_t*>(p)[-1];
  live_allocations.fetch_sub(1, std::memory_order_relaxed);
  live_bytes.fetch_sub(static_cast<long long>(size), std::memory_order_relaxed);
  live_heap_bytes.fetch_sub(static_cast<long long>(glibc_chunk_size(size)), std::memory_order_relaxed);
  std::free(static_cast<char*>(p) - header_size(align));
}

void* allocate_or_throw(std::size_t size, std::size_t align) {
  void* p = allocate(size, align);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

heap_count live_heap() {
  return {live_allocations.load(), live_bytes.load(), live_heap_bytes.load()};
}

void* operator new(std::size_t size) { return allocate_or_throw(size, 0); }
void* operator new[](std::size_t size) { return allocate_or_throw(size, 0); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t align) {
  return allocate_or_throw(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
  return allocate_or_throw(size, static_cast<std::size_t>(align));
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(align));
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t align) noexcept { release(p, static_cast<std::size_t>(align)); }
void operator delete[](void* p, std::align_val_t align) noexcept { release(p, static_cast<std::size_t>(align)); }
void operator delete(void* p, std::size_t, std::align_val_t align) noexcept { release(p, static_cast<std::size_t>(align)); }
void operator delete[](void* p, std::size_t, std::align_val_t align) noexcept { release(p, static_cast<std::size_t>(align)); }
void operator delete(void* p, std::align_val_t align, const std::nothrow_t&) noexcept { release(p, static_cast<std::size_t>(align)); }
void operator delete[](void* p, std::align_val_t align, const std::nothrow_t&) noexcept { release(p, static_cast<std::size_t>(align)); }
