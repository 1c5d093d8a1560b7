#pragma once

#include <cstdint>
#include <vector>

// Little-endian fields, as every format here stores its numbers.
namespace archivers {

inline std::uint16_t loadLe16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t loadLe32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::uint64_t loadLe64(const std::uint8_t* bytes) {
  return loadLe32(bytes) | static_cast<std::uint64_t>(loadLe32(bytes + 4)) << 32;
}

inline void storeLe16(std::uint8_t* bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void storeLe32(std::uint8_t* bytes, std::uint32_t value) {
  storeLe16(bytes, static_cast<std::uint16_t>(value));
  storeLe16(bytes + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void storeLe64(std::uint8_t* bytes, std::uint64_t value) {
  storeLe32(bytes, static_cast<std::uint32_t>(value));
  storeLe32(bytes + 4, static_cast<std::uint32_t>(value >> 32));
}

// Appending forms, for headers built up in memory.
inline void appendLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void appendLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  appendLe16(out, static_cast<std::uint16_t>(value));
  appendLe16(out, static_cast<std::uint16_t>(value >> 16));
}

inline void appendLe64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  appendLe32(out, static_cast<std::uint32_t>(value));
  appendLe32(out, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace archivers
