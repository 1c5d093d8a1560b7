#include "common/isal_inflater.h"

#include <isa-l/igzip_lib.h>

#include <limits>

#include "common/archive_error.h"

namespace archivers {

// The state (85 KiB, mostly tables the decoder fills itself) is set up by isal_inflate_init alone:
// zeroing it first would cost every small extraction its pages.
IsalInflater::IsalInflater(Wrapper wrapper)
    : state_(std::make_unique_for_overwrite<inflate_state>()), wrapper_(wrapper) {
  reset();
}

IsalInflater::~IsalInflater() = default;

void IsalInflater::reset() {
  isal_inflate_init(state_.get());
  state_->crc_flag = wrapper_ == Wrapper::kGzip ? ISAL_GZIP : ISAL_DEFLATE;
}

void IsalInflater::setInput(const std::uint8_t* data, std::size_t size) {
  state_->next_in = const_cast<std::uint8_t*>(data);
  state_->avail_in = static_cast<std::uint32_t>(size);
}

std::size_t IsalInflater::inputLeft() const {
  return state_->avail_in;
}

const std::uint8_t* IsalInflater::nextInput() const {
  return state_->next_in;
}

bool IsalInflater::finished() const {
  return state_->block_state == ISAL_BLOCK_FINISH;
}

std::size_t IsalInflater::inflate(std::uint8_t* output, std::size_t capacity) {
  if (capacity > std::numeric_limits<std::uint32_t>::max()) {
    capacity = std::numeric_limits<std::uint32_t>::max();
  }
  std::size_t produced = 0;
  while (produced < capacity && !finished()) {
    state_->next_out = output + produced;
    state_->avail_out = static_cast<std::uint32_t>(capacity - produced);
    const std::uint32_t inputBefore = state_->avail_in;
    const int status = isal_inflate(state_.get());
    const std::size_t made = capacity - produced - state_->avail_out;
    produced += made;
    if (status == ISAL_INCORRECT_CHECKSUM) {
      throw ArchiveError(Result::kCorrupt, "gzip data is damaged: checksum mismatch");
    }
    if (status < 0) {
      throw ArchiveError(Result::kCorrupt, wrapper_ == Wrapper::kGzip
                                               ? "gzip data is damaged: invalid deflate data"
                                               : "damaged deflate data");
    }
    if (made == 0 && state_->avail_in == inputBefore) break;  // wants more input
  }
  return produced;
}

}  // namespace archivers
