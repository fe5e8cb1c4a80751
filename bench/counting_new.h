// The benchmark program's own operator new and delete, counting what is live,
// so that a benchmark can tell what a queued record costs on the heap.
#pragma once

#include <cstddef>

struct heap_count {
  long long allocations;  // live blocks
  long long bytes;        // live bytes as requested
  long long heap_bytes;   // the same blocks as a 64-bit glibc heap holds them
};

// Counts across all threads; a difference of two readings is meaningful only
// while no other thread allocates.
heap_count live_heap();

// What glibc's malloc takes for a request of `size` bytes on a 64-bit system:
// an 8-byte header, 16-byte granules, 32 bytes at least.
constexpr std::size_t glibc_chunk_size(std::size_t size) {
  const std::size_t chunk = (size + 8 + 15) & ~static_cast<std::size_t>(15);
  return chunk < 32 ? 32 : chunk;
}
