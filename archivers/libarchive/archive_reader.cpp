#include "libarchive/archive_reader.h"

#include <archive.h>
#include <unistd.h>

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

la_ssize_t readGzip(archive* reader, void* source, const void** block) {
  try {
    std::size_t size = 0;
    *block = static_cast<GzipSource*>(source)->next(size);
    return static_cast<la_ssize_t>(size);
  } catch (const std::exception& error) {
    archive_set_error(reader, EIO, "%s", error.what());
    return -1;
  }
}

int openArchive(archive* reader, int fd, ArchiveKind kind, std::unique_ptr<GzipSource>& gzip) {
  if (kind == ArchiveKind::kTar && GzipSource::looksLikeGzip(fd)) {
    gzip = std::make_unique<GzipSource>(fd);
    return archive_read_open(reader, gzip.get(), nullptr, readGzip, nullptr);
  }
  return archive_read_open_fd(reader, fd, kReadBlockSize);
}

}  // namespace

ArchiveReader::ArchiveReader(const std::string& path, ArchiveKind kind)
    : ArchiveReader(path, openRegularFile(path), kind) {}

ArchiveReader::ArchiveReader(const std::string& path, RegularFile file, ArchiveKind kind)
    : file_(std::move(file.descriptor)), archive_(archive_read_new()), kind_(kind) {
  if (archive_ == nullptr) throw std::bad_alloc();
  progress::setArchive(path, file.size);
  configure(archive_, kind);
  try {
    if (openArchive(archive_, file_.get(), kind, gzip_) != ARCHIVE_OK) {
      throw ArchiveError(Result::kCannotOpen, errorMessage(), path);
    }
  } catch (...) {
    archive_read_free(archive_);
    throw;
  }
}

std::uint64_t ArchiveReader::position() const {
  const off_t offset = ::lseek(file_.get(), 0, SEEK_CUR);
  return offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
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
  const std::string message = errorMessage();
  const bool unsupported = message.find("ncrypt") != std::string::npos ||
                           message.find("assphrase") != std::string::npos ||
                           message.starts_with("Unsupported");
  return unsupported ? Result::kUnsupported : Result::kCorrupt;
}

}  // namespace archivers
