#include "script/record.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t max_u32 = std::numeric_limits<std::uint32_t>::max();

void copy_bytes(char* to, std::string_view from) noexcept {
  if (!from.empty()) std::memcpy(to, from.data(), from.size());
}

std::string_view up_to_nul(std::string_view text) noexcept { return text.substr(0, text.find('\0')); }

// The key's first eight bytes, big-endian, zero-padded: keys hold no NUL, so
// unequal prefixes order as the keys do, and equal ones of keys up to eight
// bytes mean equal keys.
std::uint64_t order_prefix(std::string_view key) noexcept {
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < 8; ++i)
    prefix = prefix << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0U);
  return prefix;
}

}  // namespace

std::map<std::string, std::string> record::fields() const {
  std::map<std::string, std::string> copy;
  for (const field f : *this) copy.emplace_hint(copy.end(), f.key, f.value);
  return copy;
}

record_builder::record_builder() noexcept : pairs_(inline_pairs_), bytes_(inline_bytes_) {}

record_builder::~record_builder() = default;

void record_builder::reserve_bytes(std::size_t wanted) {
  if (wanted <= byte_capacity_) return;
  const std::size_t capacity = std::max(wanted, 2 * byte_capacity_);
  auto grown = std::make_unique<char[]>(capacity);
  std::memcpy(grown.get(), bytes_, byte_count_);
  heap_bytes_ = std::move(grown);
  bytes_ = heap_bytes_.get();
  byte_capacity_ = capacity;
}

void record_builder::reserve_pairs() {
  if (pair_count_ < pair_capacity_) return;
  const std::size_t capacity = 2 * pair_capacity_;
  auto grown = std::make_unique<pending[]>(capacity);
  std::copy(pairs_, pairs_ + pair_count_, grown.get());
  heap_pairs_ = std::move(grown);
  pairs_ = heap_pairs_.get();
  pair_capacity_ = capacity;
}

void record_builder::add(std::string_view key, std::string_view value) {
  key = up_to_nul(key);
  value = up_to_nul(value);
  // Offsets and lengths are 32-bit: a record past that is refused like one
  // that memory cannot hold.
  if (key.size() + value.size() > max_u32 - byte_count_ || pair_count_ >= max_u32)
    throw std::bad_alloc();
  reserve_bytes(byte_count_ + key.size() + value.size());
  reserve_pairs();
  copy_bytes(bytes_ + byte_count_, key);
  copy_bytes(bytes_ + byte_count_ + key.size(), value);
  pairs_[pair_count_] = {static_cast<std::uint32_t>(byte_count_), static_cast<std::uint32_t>(key.size()),
                         static_cast<std::uint32_t>(value.size()), static_cast<std::uint32_t>(pair_count_),
                         order_prefix(key)};
  ++pair_count_;
  byte_count_ += key.size() + value.size();
}

record* record_builder::build() {
  const auto key_of = [this](const pending& p) { return std::string_view(bytes_ + p.offset, p.key_length); };
  // Equal keys stay in visiting order, so the last of each run is the one kept.
  std::sort(pairs_, pairs_ + pair_count_, [&key_of](const pending& a, const pending& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    const int order = key_of(a).compare(key_of(b));
    return order != 0 ? order < 0 : a.sequence < b.sequence;
  });
  const auto replaced = [&](std::size_t i) {
    return i + 1 < pair_count_ && pairs_[i].prefix == pairs_[i + 1].prefix &&
           key_of(pairs_[i]) == key_of(pairs_[i + 1]);
  };
  std::size_t kept = 0;
  std::size_t kept_bytes = 0;
  for (std::size_t i = 0; i < pair_count_; ++i) {
    if (replaced(i)) continue;
    ++kept;
    kept_bytes += pairs_[i].key_length + pairs_[i].value_length;
  }

  void* block = ::operator new(sizeof(record) + kept * sizeof(record::entry) + kept_bytes);
  record* made = new (block) record;
  made->count_ = static_cast<std::uint32_t>(kept);
  auto* entry = const_cast<record::entry*>(made->entries());
  char* const bytes = const_cast<char*>(made->bytes());
  std::uint32_t offset = 0;
  for (std::size_t i = 0; i < pair_count_; ++i) {
    if (replaced(i)) continue;
    const pending& p = pairs_[i];
    *entry++ = {offset, p.key_length, p.value_length};
    copy_bytes(bytes + offset, std::string_view(bytes_ + p.offset, p.key_length + p.value_length));
    offset += p.key_length + p.value_length;
  }
  return made;
}
