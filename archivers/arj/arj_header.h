#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/input_file.h"

namespace archivers::arj {

namespace flags {
constexpr std::uint8_t kGarbled = 0x01;  // encrypted with a password
constexpr std::uint8_t kVolume = 0x04;   // continues in the next volume
constexpr std::uint8_t kExtFile = 0x08;  // continued from the previous volume
}  // namespace flags

namespace file_types {
constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kText = 1;
constexpr std::uint8_t kMainHeader = 2;
constexpr std::uint8_t kDirectory = 3;
}  // namespace file_types

namespace host_os {
constexpr std::uint8_t kUnix = 2;
constexpr std::uint8_t kNext = 8;
}  // namespace host_os

// The fields of a main or local header that extraction uses.
struct Header {
  std::uint8_t hostOs = 0;
  std::uint8_t flags = 0;
  std::uint8_t method = 0;
  std::uint8_t fileType = 0;
  std::uint32_t timestamp = 0;  // DOS date and time, or Unix time from Unix hosts
  std::uint32_t compressedSize = 0;
  std::uint32_t originalSize = 0;
  std::uint32_t fileCrc = 0;
  std::uint16_t accessMode = 0;
  std::string name;              // raw bytes as stored, encoding unknown
  std::uint64_t dataOffset = 0;  // where the member's compressed data starts
};

// Finds the main header: the first header id followed by a plausible size and a matching header
// CRC, which skips a self-extractor in front. Leaves the file at the first local header. Throws
// ArchiveError(kCannotOpen) when there is none.
Header readMainHeader(InputFile& file);

// Reads the local header at the current position and leaves the file at its data; nothing at the
// end-of-archive marker. Throws ArchiveError(kCorrupt) for a damaged or truncated header.
std::optional<Header> readLocalHeader(InputFile& file);

}  // namespace archivers::arj
