// Hand-made deflate and Deflate64 streams: the one decoder reads the same bits by the tables of
// the form it is given, and damage of each kind is an ArchiveError, never a crash or a hang.
#include "common/inflate_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/archive_error.h"

namespace archivers {
namespace {

using Variant = InflateDecoder::Variant;

// Writes bits least significant first, as deflate packs them; prefix codes go most significant
// bit first.
class DeflateBits {
 public:
  DeflateBits& bits(std::uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) push((value >> i) & 1);
    return *this;
  }
  DeflateBits& code(std::uint32_t value, unsigned length) {
    for (unsigned i = length; i-- > 0;) push((value >> i) & 1);
    return *this;
  }
  DeflateBits& stored(bool last, std::uint16_t length, std::uint16_t check, std::string text) {
    bits(last ? 1 : 0, 3);
    used_ = (used_ + 7) / 8 * 8;
    bits(length, 16).bits(check, 16);
    for (const char c : text) bits(static_cast<unsigned char>(c), 8);
    return *this;
  }
  std::vector<std::uint8_t> done() const { return out_; }

 private:
  void push(std::uint32_t bit) {
    if (used_ % 8 == 0) out_.push_back(0);
    out_.back() = static_cast<std::uint8_t>(out_.back() | bit << (used_ % 8));
    ++used_;
  }
  std::vector<std::uint8_t> out_;
  unsigned used_ = 0;
};

// Fixed-code symbols: 'a', length codes 257 and 285, end of block; distance codes are 5 bits.
DeflateBits fixedBlock(bool last = true) {
  return std::move(DeflateBits().bits(last ? 1 : 0, 1).bits(1, 2).code(0x30 + 'a', 8));
}
constexpr std::uint32_t kLength3 = 1, kLength285 = 0xC5, kEndOfBlock = 0;

// A dynamic block's header up to the lengths of its first code length codes.
DeflateBits dynamicHeader(std::initializer_list<std::uint32_t> lengths) {
  DeflateBits stream;
  stream.bits(1, 1).bits(2, 2).bits(0, 14);
  for (const std::uint32_t length : lengths) stream.bits(length, 3);
  return stream;
}

// The decoded text, or the error's message.
std::string decode(Variant variant, const std::vector<std::uint8_t>& stream) {
  std::string out;
  bool given = false;
  try {
    InflateDecoder().decode(
        variant,
        [&] {
          const bool first = !given;
          given = true;
          return first ? std::span<const std::uint8_t>(stream) : std::span<const std::uint8_t>();
        },
        [&](const std::uint8_t* data, std::size_t size) {
          out.append(reinterpret_cast<const char*>(data), size);
        });
  } catch (const ArchiveError& error) {
    return error.what();
  }
  return out;
}

TEST(InflateDecoder, ReadsEachFormByItsTablesAndReportsDamage) {
  const std::string damaged = "damaged deflate data: ";
  struct Case {
    const char* label;
    Variant variant;
    std::vector<std::uint8_t> stream;
    std::string expected;
  };
  const Case cases[] = {
      {"285 is 258 in deflate", Variant::kDeflate,
       fixedBlock().code(kLength285, 8).code(0, 5).code(kEndOfBlock, 7).done(),
       std::string(259, 'a')},
      {"285 is 3 + 16 bits in Deflate64", Variant::kDeflate64,
       fixedBlock().code(kLength285, 8).bits(60000, 16).code(0, 5).code(kEndOfBlock, 7).done(),
       std::string(60004, 'a')},
      {"distance code 30 only in Deflate64", Variant::kDeflate,
       fixedBlock().code(kLength3, 7).code(30, 5).bits(0, 14).code(kEndOfBlock, 7).done(),
       damaged + "invalid distance code"},
      {"distance before the start", Variant::kDeflate64,
       fixedBlock().code(kLength3, 7).code(1, 5).code(kEndOfBlock, 7).done(),
       damaged + "distance before the start of the output"},
      {"stored blocks after a fixed one", Variant::kDeflate64,
       fixedBlock(false)
           .code(kEndOfBlock, 7)
           .stored(false, 5, 0xFFFA, "hello")
           .stored(true, 0, 0xFFFF, "")
           .done(),
       "ahello"},
      {"stored length unconfirmed", Variant::kDeflate,
       DeflateBits().stored(true, 5, 5, "hello").done(), damaged + "stored block length mismatch"},
      {"stored block cut short", Variant::kDeflate,
       DeflateBits().stored(true, 9, 0xFFF6, "hel").done(), damaged + "the stream is cut short"},
      {"no end of block", Variant::kDeflate, fixedBlock().code(kLength3, 7).code(0, 5).done(),
       damaged + "the stream is cut short"},
      {"block type 3", Variant::kDeflate, DeflateBits().bits(1, 1).bits(3, 2).done(),
       damaged + "invalid block type"},
      {"over-subscribed code", Variant::kDeflate, dynamicHeader({1, 1, 1, 1}).done(),
       damaged + "over-subscribed code"},
      {"incomplete code", Variant::kDeflate, dynamicHeader({1, 2, 0, 0}).done(),
       damaged + "incomplete code"},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(decode(test.variant, test.stream), test.expected) << test.label;
  }
}

}  // namespace
}  // namespace archivers
