#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace archivers {

// Deflate streams decoded by one table-driven decoder, in either of two forms: deflate itself,
// or Deflate64 (ZIP method 9), which differs only in its tables: a 64 KiB window, length code
// 285 meaning 3 plus 16 extra bits, and distance codes 30 and 31 with 14 extra bits each.
// Damage of any kind (bad block types, over-subscribed or incomplete codes, distances before the
// start, a stream cut short) is an ArchiveError(kCorrupt), never a read or write out of bounds.
class InflateDecoder {
 public:
  enum class Variant { kDeflate, kDeflate64 };
  // The next compressed bytes, valid until the next call; empty when the input has ended.
  using Source = std::function<std::span<const std::uint8_t>()>;
  // Takes the decoded bytes in order, in pieces of at most kPieceSize.
  using Deliver = std::function<void(const std::uint8_t* data, std::size_t size)>;
  static constexpr std::size_t kPieceSize = 256 * 1024;

  InflateDecoder();
  InflateDecoder(const InflateDecoder&) = delete;
  InflateDecoder& operator=(const InflateDecoder&) = delete;
  ~InflateDecoder();

  // Decodes one stream up to the end of its final block. Bytes after that are left unread.
  void decode(Variant variant, const Source& source, const Deliver& deliver);

  struct State;

 private:
  std::unique_ptr<State> state_;  // tables and window, made on first use
};

}  // namespace archivers
