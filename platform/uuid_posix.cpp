#include "platform/uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>

namespace platform {

namespace {

bool random_bytes(std::uint8_t* bytes, std::size_t count) noexcept {
  while (count > 0) {
    const ssize_t got = ::getrandom(bytes, count, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

// A random (version 4) UUID: 122 random bits, the version and the variant.
bool create_uuid(uuid_fields& out) noexcept {
  std::uint8_t bytes[16];
  if (!random_bytes(bytes, sizeof bytes)) return false;
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);
  out.data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
              (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
  out.data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  out.data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) out.data4[i] = bytes[8 + i];
  return true;
}

}  // namespace platform
