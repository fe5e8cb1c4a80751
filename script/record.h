// One kept notification: an ordered map from byte string to byte string, held
// in one block: the entries in key order, then their bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>

// Keys are unique and sort by unsigned bytes, shorter prefix first; no key or
// value holds a NUL. Made by record_builder (`new record` is empty), destroyed
// with delete; one owner at a time. Not copyable: the fields live behind it.
class record {
 public:
  struct field {
    std::string_view key;
    std::string_view value;
  };

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = field;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = field;

    field operator*() const noexcept;
    const_iterator& operator++() noexcept { ++index_; return *this; }
    bool operator==(const const_iterator& other) const noexcept { return index_ == other.index_; }
    bool operator!=(const const_iterator& other) const noexcept { return index_ != other.index_; }

   private:
    friend class record;
    const_iterator(const record* owner, std::uint32_t index) noexcept : owner_(owner), index_(index) {}
    const record* owner_;
    std::uint32_t index_;
  };

  record() noexcept = default;
  record(const record&) = delete;
  record& operator=(const record&) = delete;

  std::size_t size() const noexcept { return count_; }
  bool empty() const noexcept { return count_ == 0; }
  const_iterator begin() const noexcept { return const_iterator(this, 0); }
  const_iterator end() const noexcept { return const_iterator(this, count_); }

  // A copy as a map, for checks away from the hot path.
  std::map<std::string, std::string> fields() const;

  // The block is as large as its fields: it goes back whole.
  static void* operator new(std::size_t size) { return ::operator new(size); }
  static void* operator new(std::size_t, void* place) noexcept { return place; }
  static void operator delete(void* block) noexcept { ::operator delete(block); }

 private:
  friend class record_builder;
  // Where the key starts among the bytes; its value follows it at once.
  struct entry {
    std::uint32_t offset;
    std::uint32_t key_length;
    std::uint32_t value_length;
  };

  const entry* entries() const noexcept {
    return reinterpret_cast<const entry*>(reinterpret_cast<const char*>(this) + sizeof(record));
  }
  const char* bytes() const noexcept { return reinterpret_cast<const char*>(entries() + count_); }

  std::uint32_t count_ = 0;
};

// Collects the pairs of one table in the order they are visited, on the stack
// while they are few, and makes the record in one allocation.
class record_builder {
 public:
  record_builder() noexcept;
  ~record_builder();
  record_builder(const record_builder&) = delete;
  record_builder& operator=(const record_builder&) = delete;

  // Adds a pair, each text cut at its first NUL; a later pair with an equal
  // key replaces the earlier. Throws std::bad_alloc, also for a record past
  // 4 GiB.
  void add(std::string_view key, std::string_view value);

  // The pairs as a new record in key order. Throws std::bad_alloc.
  record* build();

 private:
  struct pending {
    std::uint32_t offset;
    std::uint32_t key_length;
    std::uint32_t value_length;
    std::uint32_t sequence;
    std::uint64_t prefix;  // orders most pairs without reading their keys
  };
  static constexpr std::size_t inline_pairs = 16;
  static constexpr std::size_t inline_bytes = 512;

  void reserve_bytes(std::size_t wanted);
  void reserve_pairs();

  pending* pairs_;
  std::size_t pair_count_ = 0;
  std::size_t pair_capacity_ = inline_pairs;
  char* bytes_;
  std::size_t byte_count_ = 0;
  std::size_t byte_capacity_ = inline_bytes;
  std::unique_ptr<pending[]> heap_pairs_;
  std::unique_ptr<char[]> heap_bytes_;
  pending inline_pairs_[inline_pairs];
  char inline_bytes_[inline_bytes];
};

inline record::field record::const_iterator::operator*() const noexcept {
  const entry& e = owner_->entries()[index_];
  const char* key = owner_->bytes() + e.offset;
  return {std::string_view(key, e.key_length), std::string_view(key + e.key_length, e.value_length)};
}
