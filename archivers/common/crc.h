#pragma once

#include <cstddef>
#include <cstdint>

namespace archivers {

// CRC-16 as LHA uses it (polynomial 0xA001, reflected, initial value 0).
std::uint16_t crc16(std::uint16_t crc, const void* data, std::size_t size);

// CRC-32 as ZIP and ARJ use it (polynomial 0xEDB88320, reflected; start with 0).
std::uint32_t crc32(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace archivers
