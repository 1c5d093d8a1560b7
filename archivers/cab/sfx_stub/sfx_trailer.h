#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

namespace archivers::cab {

// A self-extracting program is the stub, the cabinet, then this trailer as its last bytes: where
// the cabinet starts and how long it is, so the stub finds it by reading its own file from the
// end. Tools that know nothing of the trailer still find the cabinet by its signature.
struct SfxTrailer {
  static constexpr std::size_t kBytes = 24;
  static constexpr char kMagic[9] = "ParvoSFX";

  std::uint64_t cabinetOffset = 0;
  std::uint64_t cabinetLength = 0;

  // Offset and length little-endian, then the magic.
  std::array<unsigned char, kBytes> encode() const {
    std::array<unsigned char, kBytes> bytes{};
    for (int i = 0; i < 8; ++i) {
      bytes[i] = static_cast<unsigned char>(cabinetOffset >> (8 * i));
      bytes[8 + i] = static_cast<unsigned char>(cabinetLength >> (8 * i));
    }
    std::memcpy(bytes.data() + 16, kMagic, 8);
    return bytes;
  }

  // Nothing when the bytes do not end in the magic.
  static std::optional<SfxTrailer> decode(const std::array<unsigned char, kBytes>& bytes) {
    if (std::memcmp(bytes.data() + 16, kMagic, 8) != 0) return std::nullopt;
    SfxTrailer trailer;
    for (int i = 7; i >= 0; --i) {
      trailer.cabinetOffset = (trailer.cabinetOffset << 8) | bytes[i];
      trailer.cabinetLength = (trailer.cabinetLength << 8) | bytes[8 + i];
    }
    return trailer;
  }
};

}  // namespace archivers::cab
