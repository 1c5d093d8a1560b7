#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace archivers::cab {

// A folder a cabinet cannot hold (it holds no file), carried beside the cabinet so that the
// program makes it.
struct SfxFolder {
  std::string path;  // '/' separated, relative
  std::int64_t mtime = 0;
  bool operator==(const SfxFolder&) const = default;
};

// A self-extracting program is the stub, the cabinet, the empty folders, then this trailer as its
// last bytes: where the cabinet starts, how long it is and how many bytes of folders follow it, so
// the stub finds them by reading its own file from the end. Tools that know nothing of the trailer
// still find the cabinet by its signature.
//
// Every field lies at a fixed distance from the end of the file, and the trailer ends in its own
// size and version before the magic: a later version adds its fields in front, and a reader of
// this one still finds its own. The first programs ended in 24 bytes, the cabinet's offset and
// length and kFirstMagic, and carried no folders; they are read as before.
struct SfxTrailer {
  static constexpr std::size_t kBytes = 40;
  static constexpr std::size_t kFirstBytes = 24;
  static constexpr std::uint32_t kVersion = 2;
  static constexpr char kMagic[9] = "ParvoSFV";
  static constexpr char kFirstMagic[9] = "ParvoSFX";

  std::uint64_t cabinetOffset = 0;
  std::uint64_t cabinetLength = 0;
  std::uint64_t foldersLength = 0;  // the folder list between the cabinet and the trailer
  std::uint64_t bytes = kBytes;     // of the trailer as read

  // Folders' length, offset, length, the trailer's size and version, all little-endian, then the
  // magic.
  std::array<unsigned char, kBytes> encode() const {
    std::array<unsigned char, kBytes> out{};
    store(out.data(), foldersLength, 8);
    store(out.data() + 8, cabinetOffset, 8);
    store(out.data() + 16, cabinetLength, 8);
    store(out.data() + 24, kBytes, 4);
    store(out.data() + 28, kVersion, 4);
    std::memcpy(out.data() + 32, kMagic, 8);
    return out;
  }

  // From the last bytes of a file (up to kBytes of them); nothing when they end in neither magic.
  static std::optional<SfxTrailer> decode(std::span<const unsigned char> end) {
    const auto fromEnd = [&](std::size_t distance, int size) {
      return load(end.data() + end.size() - distance, size);
    };
    SfxTrailer trailer;
    if (end.size() >= kFirstBytes && std::memcmp(&end[end.size() - 8], kFirstMagic, 8) == 0) {
      trailer.cabinetOffset = fromEnd(24, 8);
      trailer.cabinetLength = fromEnd(16, 8);
      trailer.bytes = kFirstBytes;
      return trailer;
    }
    if (end.size() < kBytes || std::memcmp(&end[end.size() - 8], kMagic, 8) != 0) {
      return std::nullopt;
    }
    trailer.bytes = fromEnd(16, 4);
    if (fromEnd(12, 4) < kVersion || trailer.bytes < kBytes) return std::nullopt;
    trailer.foldersLength = fromEnd(40, 8);
    trailer.cabinetOffset = fromEnd(32, 8);
    trailer.cabinetLength = fromEnd(24, 8);
    return trailer;
  }

  // Each folder as its path's length (4 bytes), the path, and its time (8 bytes), little-endian.
  static std::vector<unsigned char> encodeFolders(const std::vector<SfxFolder>& folders) {
    std::vector<unsigned char> out;
    for (const SfxFolder& folder : folders) {
      const std::size_t at = out.size();
      out.resize(at + 4 + folder.path.size() + 8);
      store(&out[at], folder.path.size(), 4);
      std::memcpy(&out[at + 4], folder.path.data(), folder.path.size());
      store(&out[at + 4 + folder.path.size()], static_cast<std::uint64_t>(folder.mtime), 8);
    }
    return out;
  }

  // Nothing when the bytes do not divide into whole records.
  static std::optional<std::vector<SfxFolder>> decodeFolders(std::span<const unsigned char> bytes) {
    std::vector<SfxFolder> folders;
    for (std::size_t at = 0; at < bytes.size();) {
      if (bytes.size() - at < 4) return std::nullopt;
      const std::uint64_t length = load(&bytes[at], 4);
      if (bytes.size() - at - 4 < length + 8) return std::nullopt;
      const char* path = reinterpret_cast<const char*>(&bytes[at + 4]);
      folders.push_back({std::string(path, static_cast<std::size_t>(length)),
                         static_cast<std::int64_t>(load(&bytes[at + 4 + length], 8))});
      at += 4 + length + 8;
    }
    return folders;
  }

 private:
  static void store(unsigned char* out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
  }
  static std::uint64_t load(const unsigned char* in, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | in[i];
    return value;
  }
};

}  // namespace archivers::cab
