#include "libarchive/libarchive_extraction.h"

#include <archive.h>
#include <archive_entry.h>

#include <optional>

#include "common/extraction_driver.h"
#include "common/extraction_sink.h"
#include "libarchive/archive_reader.h"
#include "libarchive/entry_conversion.h"
#include "libarchive/utf8_thread_locale.h"

namespace archivers {

namespace {

// Past this many unusable headers the archive is garbage: stop instead of crawling through it.
constexpr std::size_t kMaxFailedHeaders = 1000;

class Extraction {
 public:
  Extraction(ArchiveInput& input, ExtractionSink& sink, ArchiveKind kind)
      : reader_(input, kind, sink.call()), sink_(sink) {}

  void run() {
    bool retrying = false;  // the header before was rejected too
    for (;;) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(reader_.handle(), &entry);
      if (status == ARCHIVE_EOF) break;
      if (status == ARCHIVE_FATAL) return endAtFatalError();
      if (status == ARCHIVE_FAILED || status == ARCHIVE_RETRY) {
        // This member's header is unusable but the reader can go on to the next one. Past a
        // damaged TAR header it retries block by block through the member's data: one damaged
        // stretch is one failure.
        if (status == ARCHIVE_FAILED || !retrying) {
          record(ArchiveError(reader_.errorResult(), reader_.errorMessage()));
          if (++failedHeaders_ == kMaxFailedHeaders) return;
        }
        retrying = status == ARCHIVE_RETRY;
        continue;
      }
      retrying = false;
      headerRead_ = true;
      extract(entry);
    }
    guardMember(sink_, {}, [&] { reader_.verifyToEnd(); });
  }

 private:
  // libarchive cannot go on: what it found is recorded and the reading ends, unless the input
  // itself failed in a way that ends the extraction, or nothing of an archive was found at all.
  void endAtFatalError() {
    const std::optional<ArchiveError>& failure = reader_.inputFailure();
    if (failure && endsExtraction(*failure)) throw *failure;
    if (!headerRead_ && archive_format(reader_.handle()) == 0) {
      throw ArchiveError(Result::kCannotOpen, reader_.errorMessage());
    }
    // A member whose data broke the reader was recorded with its name: that says more.
    if (lastMemberFailed_) return;
    record(failure ? *failure : ArchiveError(reader_.errorResult(), reader_.errorMessage()));
  }

  // A failure that names no member: the user's stop, which libarchive reports as its own error,
  // still ends the extraction.
  void record(const ArchiveError& error) {
    guardMember(sink_, {}, [&] { throw error; });
  }

  void extract(archive_entry* entry) {
    const std::optional<EntryInfo> info = toEntryInfo(entry, reader_.kind(), names_);
    const char* name = archive_entry_pathname(entry);
    const std::string shownName = info ? info->path : (name != nullptr ? name : "");
    if (shownName.empty()) {
      // A header that names nothing is damage, not a name to refuse.
      record(ArchiveError(Result::kCorrupt, "a member's header holds no name"));
    } else if (!info) {
      sink_.refuse(shownName, "not a file, folder or link");
    } else if (archive_entry_is_encrypted(entry) && info->type != EntryType::kDirectory) {
      sink_.fail(Result::kUnsupported, "encrypted, encryption is not supported", shownName);
    } else {
      lastMemberFailed_ = true;
      guardMember(sink_, info->path, [&] {
        extractEntry(entry, *info);
        lastMemberFailed_ = false;
      });
    }
  }

  void extractEntry(archive_entry* entry, const EntryInfo& info) {
    if (info.type == EntryType::kDirectory) {
      sink_.createDirectory(info);
    } else if (info.type == EntryType::kSymlink || info.type == EntryType::kHardlink) {
      sink_.createLink(info);
    } else if (std::unique_ptr<FileOutput> output = sink_.createFile(info)) {
      copyData(entry, *output);
      output->commit();
    }
  }

  // Copies the current member's data into output, holes of sparse members as holes. Throws
  // ArchiveError with libarchive's message when the data is damaged (checksum, truncation), and
  // the output's own errors (past the declared size, disk full).
  void copyData(archive_entry* entry, FileOutput& output) {
    std::uint64_t position = 0;
    for (;;) {
      const void* block = nullptr;
      std::size_t size = 0;
      la_int64_t offset = 0;
      const int status = archive_read_data_block(reader_.handle(), &block, &size, &offset);
      if (status == ARCHIVE_EOF) break;
      // A warning here is a checksum or length mismatch: the data cannot be trusted.
      if (status != ARCHIVE_OK) {
        throw ArchiveError(reader_.errorResult(), reader_.errorMessage());
      }
      if (offset < 0 || static_cast<std::uint64_t>(offset) < position) {
        throw ArchiveError(Result::kCorrupt, "data blocks out of order");
      }
      output.skip(static_cast<std::uint64_t>(offset) - position);
      output.write(block, size);
      position = static_cast<std::uint64_t>(offset) + size;
    }
    // A member may end in a hole no data block covers (sparse TAR members), or a ZIP directory may
    // state more than the data holds while libarchive finds nothing wrong: both end in a hole up
    // to the stated size.
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0) {
      const auto size = static_cast<std::uint64_t>(archive_entry_size(entry));
      if (size > position) output.skip(size - position);
    }
  }

  Utf8ThreadLocale locale_;  // before the reader: libarchive picks its name conversions on setup
  ArchiveReader reader_;
  ExtractionSink& sink_;
  ZipNameDecoder names_;
  bool headerRead_ = false;
  bool lastMemberFailed_ = false;
  std::size_t failedHeaders_ = 0;
};

}  // namespace

void readWithLibarchive(ArchiveInput& input, ExtractionSink& sink, ArchiveKind kind) {
  Extraction(input, sink, kind).run();
}

void readTarArchive(ArchiveInput& input, ExtractionSink& sink) {
  readWithLibarchive(input, sink, ArchiveKind::kTar);
}

}  // namespace archivers
