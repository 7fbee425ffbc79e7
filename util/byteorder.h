// Big-endian load and store of wire fields. Every multi-byte field of a page or request goes
// through these, on every host: one code path, by shifts on unsigned values, never a cast of a
// buffer to a wider type (the target is big-endian, the development host is not).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qel {

constexpr std::uint16_t load_be16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>((static_cast<unsigned>(p[0]) << 8) | p[1]);
}

constexpr std::uint32_t load_be32(const std::uint8_t *p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

constexpr void store_be16(std::uint8_t *p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

constexpr void store_be32(std::uint8_t *p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Span forms: the offset and width are checked against the span in debug builds by the
// span's own bounds (subspan), so a field that does not fit is caught in tests.
constexpr std::uint16_t load_be16(std::span<const std::uint8_t> s, std::size_t off) {
  return load_be16(s.subspan(off, 2).data());
}
constexpr std::uint32_t load_be32(std::span<const std::uint8_t> s, std::size_t off) {
  return load_be32(s.subspan(off, 4).data());
}
constexpr void store_be16(std::span<std::uint8_t> s, std::size_t off, std::uint16_t v) {
  store_be16(s.subspan(off, 2).data(), v);
}
constexpr void store_be32(std::span<std::uint8_t> s, std::size_t off, std::uint32_t v) {
  store_be32(s.subspan(off, 4).data(), v);
}

}  // namespace qel
