#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct inflate_state;

namespace archivers {

// Deflate data decoded with ISA-L, fed and drained in pieces of any size: raw, as ZIP members
// hold it, or gzip members with their header and trailer checked.
class IsalInflater {
 public:
  enum class Wrapper { kRaw, kGzip };

  explicit IsalInflater(Wrapper wrapper);
  IsalInflater(const IsalInflater&) = delete;
  IsalInflater& operator=(const IsalInflater&) = delete;
  ~IsalInflater();

  // Starts a new stream; input still unread is dropped.
  void reset();
  // The next compressed bytes; they must stay valid until they are used up.
  void setInput(const std::uint8_t* data, std::size_t size);
  std::size_t inputLeft() const;
  const std::uint8_t* nextInput() const;
  // Decodes into output, returning how many bytes were written: fewer than capacity only when
  // the input is used up or the stream ended. Throws ArchiveError(kCorrupt) for damaged data and,
  // with the gzip wrapper, a trailer that does not match.
  std::size_t inflate(std::uint8_t* output, std::size_t capacity);
  // Whether the stream's last block has been decoded (and its trailer checked).
  bool finished() const;

 private:
  std::unique_ptr<inflate_state> state_;
  Wrapper wrapper_;
};

}  // namespace archivers
