#include "libarchive/archive_reader.h"

#include <archive.h>

#include <algorithm>
#include <cerrno>

#include "common/progress.h"
#include "libarchive/gzip_source.h"

namespace archivers {

namespace {

// Large enough that a big member streams through few read calls, small enough to stay modest.
constexpr std::size_t kReadBlockSize = 1 << 20;

void configure(archive* reader, ArchiveKind kind) {
  if (kind == ArchiveKind::kZip) {
    // The seekable reader wins the bid whenever a central directory is found; the streaming one
    // is only used for archives that have none.
    archive_read_support_format_zip_seekable(reader);
    archive_read_support_format_zip_streamable(reader);
  } else {
    // Only the filters libarchive decodes itself: for others (lzop, lrzip, grzip) it would start
    // an outside program on untrusted data.
    archive_read_support_filter_bzip2(reader);
    archive_read_support_filter_compress(reader);
    archive_read_support_filter_gzip(reader);
    archive_read_support_filter_lz4(reader);
    archive_read_support_filter_lzip(reader);
    archive_read_support_filter_lzma(reader);
    archive_read_support_filter_uu(reader);
    archive_read_support_filter_xz(reader);
    archive_read_support_filter_zstd(reader);
    archive_read_support_format_tar(reader);
    archive_read_support_format_empty(reader);
  }
}

}  // namespace

la_ssize_t ArchiveReader::read(archive* reader, void* data, const void** block) {
  auto& cursor = *static_cast<Cursor*>(data);
  try {
    const std::size_t got =
        cursor.input.readAt(cursor.position, cursor.block.data(), cursor.block.size());
    cursor.position += got;
    *block = cursor.block.data();
    return static_cast<la_ssize_t>(got);
  } catch (const ArchiveError& error) {
    cursor.failure = error;
    archive_set_error(reader, EIO, "%s", error.what());
    return -1;
  } catch (const std::exception& error) {
    archive_set_error(reader, EIO, "%s", error.what());
    return -1;
  } catch (...) {
    archive_set_error(reader, EIO, "unexpected failure while reading");
    return -1;
  }
}

la_int64_t ArchiveReader::seek(archive*, void* data, la_int64_t offset, int whence) {
  auto& cursor = *static_cast<Cursor*>(data);
  const auto size = static_cast<la_int64_t>(cursor.input.size());
  const la_int64_t base = whence == SEEK_SET   ? 0
                          : whence == SEEK_CUR ? static_cast<la_int64_t>(cursor.position)
                                               : size;
  if (offset < -base) return ARCHIVE_FATAL;
  cursor.position = static_cast<std::uint64_t>(std::min(base + offset, size));
  return static_cast<la_int64_t>(cursor.position);
}

la_int64_t ArchiveReader::skip(archive*, void* data, la_int64_t request) {
  auto& cursor = *static_cast<Cursor*>(data);
  const la_int64_t left =
      static_cast<la_int64_t>(cursor.input.size() - std::min(cursor.position, cursor.input.size()));
  const la_int64_t step = std::clamp<la_int64_t>(request, 0, left);
  cursor.position += static_cast<std::uint64_t>(step);
  return step;
}

la_ssize_t ArchiveReader::readGzip(archive* reader, void* data, const void** block) {
  auto& cursor = *static_cast<Cursor*>(data);
  try {
    std::size_t size = 0;
    *block = cursor.gzip->next(size);
    return static_cast<la_ssize_t>(size);
  } catch (const ArchiveError& error) {
    cursor.failure = error;
    archive_set_error(reader, EIO, "%s", error.what());
    return -1;
  } catch (const std::exception& error) {
    archive_set_error(reader, EIO, "%s", error.what());
    return -1;
  } catch (...) {
    archive_set_error(reader, EIO, "unexpected failure while reading");
    return -1;
  }
}

const char* PasswordFeed::next(archive*, void* data) {
  auto& feed = *static_cast<PasswordFeed*>(data);
  try {
    while (feed.handed_ < feed.call_.passwordCount()) {
      const std::size_t index = feed.handed_++;
      if (feed.excluded.count(index) > 0) continue;
      feed.last_ = index;
      return feed.call_.password(index).c_str();
    }
    if (feed.call_.askPassword()) {
      feed.last_ = feed.handed_++;
      return feed.call_.password(*feed.last_).c_str();
    }
  } catch (const ArchiveError& error) {
    feed.failure_ = error;
  } catch (...) {
    feed.failure_ = ArchiveError(Result::kInternal, "cannot ask for the password");
  }
  feed.ranOut_ = true;
  return nullptr;
}

ArchiveReader::ArchiveReader(ArchiveInput& input, ArchiveKind kind, FollowedCall& call)
    : call_(call),
      passwords_(call),
      cursor_{input, 0, {}, nullptr, std::nullopt},
      archive_(archive_read_new()),
      kind_(kind) {
  if (archive_ == nullptr) throw std::bad_alloc();
  configure(archive_, kind);
  if (kind == ArchiveKind::kZip) {
    archive_read_set_passphrase_callback(archive_, &passwords_, PasswordFeed::next);
  }
  try {
    int status = ARCHIVE_OK;
    if (kind == ArchiveKind::kTar && GzipSource::looksLikeGzip(input)) {
      gzip_ = std::make_unique<GzipSource>(input);
      cursor_.gzip = gzip_.get();
      status = archive_read_open(archive_, &cursor_, nullptr, readGzip, nullptr);
    } else {
      cursor_.block.resize(kReadBlockSize);
      archive_read_set_callback_data(archive_, &cursor_);
      archive_read_set_read_callback(archive_, read);
      archive_read_set_seek_callback(archive_, seek);
      archive_read_set_skip_callback(archive_, skip);
      status = archive_read_open1(archive_);
    }
    // Damage found while libarchive looked at the start is damage, not a file of another kind.
    if (status != ARCHIVE_OK && cursor_.failure) throw *cursor_.failure;
    if (status != ARCHIVE_OK) throw ArchiveError(Result::kCannotOpen, errorMessage());
  } catch (...) {
    archive_read_free(archive_);
    throw;
  }
}

ArchiveReader::~ArchiveReader() {
  archive_read_free(archive_);
}

void ArchiveReader::verifyToEnd() {
  if (gzip_) gzip_->drain();
}

std::string ArchiveReader::errorMessage() const {
  const char* text = archive_error_string(archive_);
  if ((text == nullptr || *text == '\0') && archive_read_has_encrypted_entries(archive_) > 0) {
    return "the archive is encrypted, which is not supported";
  }
  std::string message = text != nullptr && *text != '\0' ? text : "unreadable archive data";
  std::replace(message.begin(), message.end(), '\n', ' ');
  return message;
}

Result ArchiveReader::errorResult() const {
  // The user's stop reaches libarchive as a failed read, which it reports as its own error.
  if (call_.stopRequested()) return Result::kCancelled;
  if (cursor_.failure) return cursor_.failure->result();
  const std::string message = errorMessage();
  const bool unsupported = message.find("ncrypt") != std::string::npos ||
                           message.find("assphrase") != std::string::npos ||
                           message.starts_with("Unsupported");
  return unsupported ? Result::kUnsupported : Result::kCorrupt;
}

}  // namespace archivers
