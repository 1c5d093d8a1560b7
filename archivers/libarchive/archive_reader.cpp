#include "libarchive/archive_reader.h"

#include <archive.h>

#include <algorithm>
#include <string_view>

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
    archive_read_set_options(reader, "zip:hdrcharset=CP932");
  } else {
    archive_read_support_filter_all(reader);
    archive_read_support_format_tar(reader);
    archive_read_support_format_empty(reader);
  }
}

}  // namespace

ArchiveReader::ArchiveReader(const std::string& path, ArchiveKind kind)
    : archive_(archive_read_new()), kind_(kind) {
  if (archive_ == nullptr) throw std::bad_alloc();
  configure(archive_, kind);
  if (archive_read_open_filename(archive_, path.c_str(), kReadBlockSize) != ARCHIVE_OK) {
    const std::string message = path + ": " + errorMessage();
    archive_read_free(archive_);
    throw ArchiveError(Result::kCannotOpen, message);
  }
}

ArchiveReader::~ArchiveReader() {
  archive_read_free(archive_);
}

std::string ArchiveReader::errorMessage() const {
  const char* text = archive_error_string(archive_);
  std::string message = text != nullptr && *text != '\0' ? text : "unreadable archive data";
  std::replace(message.begin(), message.end(), '\n', ' ');
  return message;
}

Result ArchiveReader::errorResult() const {
  const std::string message = errorMessage();
  const bool unsupported = message.find("ncrypt") != std::string::npos ||
                           message.find("assphrase") != std::string::npos ||
                           message.starts_with("Unsupported");
  return unsupported ? Result::kUnsupported : Result::kCorrupt;
}

}  // namespace archivers
