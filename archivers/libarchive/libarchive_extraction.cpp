#include "libarchive/libarchive_extraction.h"

#include <archive.h>
#include <archive_entry.h>

#include <optional>
#include <set>

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
      : input_(input), reader_(input, kind, sink.call()), sink_(sink) {}

  void run() {
    bool retrying = false;  // the header before was rejected too
    for (;;) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(reader_.handle(), &entry);
      if (status == ARCHIVE_EOF) break;
      ++headersRead_;
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
    } else if (archive_entry_is_encrypted(entry) && info->type == EntryType::kFile) {
      lastMemberFailed_ = true;
      guardMember(sink_, info->path, [&] {
        extractEncrypted(entry, *info);
        lastMemberFailed_ = false;
      });
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
      if (const auto failure = copyData(reader_, entry, info, std::move(output))) throw *failure;
    }
  }

  // The member is tried with every password the user gave, and one more is asked while the tries
  // last. A password whose check passed may still be wrong (ZipCrypto checks one byte, so one
  // wrong password in 256 passes): data that then fails to decode counts as that password being
  // wrong, and the member is read again without it. Nothing of a member that fails is kept.
  void extractEncrypted(archive_entry* entry, const EntryInfo& info) {
    PasswordFeed& feed = reader_.passwords();
    feed.startMember();
    std::optional<ArchiveError> failure = copyData(reader_, entry, info, nullptr);
    if (feed.failure()) throw *feed.failure();
    if (failure && endsExtraction(*failure)) throw *failure;
    if (failure && failure->result() == Result::kCorrupt && !feed.ranOut()) {
      failure = readAgainWithoutFalsePasswords(info, *failure);
    }
    if (!failure) return;
    if (failure->result() == Result::kCancelled) throw *failure;
    if (reader_.passwords().ranOut() || passwordRefused_) {
      passwordRefused_ = false;
      sink_.failForPassword(
          sink_.call().passwordCount() == 0 ? "needs a password" : "wrong password", info.path);
      return;
    }
    throw *failure;
  }

  // Reads the member at hand again with a reader of its own, in which the member is the first to
  // ask for a password, so that the password whose check passed is known and can be left out.
  std::optional<ArchiveError> readAgainWithoutFalsePasswords(const EntryInfo& info,
                                                             ArchiveError failure) {
    std::set<std::size_t> excluded;
    for (;;) {
      if (sink_.call().stopRequested()) throw cancelledByUser();
      ArchiveReader again(input_, reader_.kind(), sink_.call());
      archive_entry* entry = nullptr;
      for (std::size_t i = 0; i < headersRead_; ++i) {
        if (archive_read_next_header(again.handle(), &entry) == ARCHIVE_EOF) return failure;
      }
      PasswordFeed& feed = again.passwords();
      feed.excluded = excluded;
      feed.startMember();
      std::optional<ArchiveError> result = copyData(again, entry, info, nullptr);
      if (feed.failure()) throw *feed.failure();
      if (!result || endsExtraction(*result)) return result;
      if (feed.ranOut() || !feed.last()) {
        passwordRefused_ = feed.ranOut();
        return result;
      }
      excluded.insert(*feed.last());
      failure = *result;
    }
  }

  // Copies the current member's data into output, holes of sparse members as holes, and commits
  // it. Without an output, one is made once the first block has come: an encrypted member's first
  // block proves its password, and a member that gives none makes nothing, not even its folders.
  // Returns the error with libarchive's message when the data is damaged (checksum, truncation);
  // the output, never committed, leaves nothing. Throws the output's own errors (past the
  // declared size, disk full).
  std::optional<ArchiveError> copyData(ArchiveReader& reader, archive_entry* entry,
                                       const EntryInfo& info, std::unique_ptr<FileOutput> output) {
    std::uint64_t position = 0;
    bool made = output != nullptr;
    for (;;) {
      const void* block = nullptr;
      std::size_t size = 0;
      la_int64_t offset = 0;
      const int status = archive_read_data_block(reader.handle(), &block, &size, &offset);
      // A warning here is a checksum or length mismatch: the data cannot be trusted.
      if (status != ARCHIVE_OK && status != ARCHIVE_EOF) {
        return ArchiveError(reader.errorResult(), reader.errorMessage());
      }
      if (!made) {
        made = true;
        output = sink_.createFile(info);
      }
      if (output == nullptr) return std::nullopt;  // refused; the next header skips the data
      if (status == ARCHIVE_EOF) break;
      if (offset < 0 || static_cast<std::uint64_t>(offset) < position) {
        return ArchiveError(Result::kCorrupt, "data blocks out of order");
      }
      output->skip(static_cast<std::uint64_t>(offset) - position);
      output->write(block, size);
      position = static_cast<std::uint64_t>(offset) + size;
    }
    // A member may end in a hole no data block covers (sparse TAR members), or a ZIP directory may
    // state more than the data holds while libarchive finds nothing wrong: both end in a hole up
    // to the stated size.
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0) {
      const auto size = static_cast<std::uint64_t>(archive_entry_size(entry));
      if (size > position) output->skip(size - position);
    }
    output->commit();
    return std::nullopt;
  }

  ArchiveInput& input_;
  Utf8ThreadLocale locale_;  // before the reader: libarchive picks its name conversions on setup
  ArchiveReader reader_;
  ExtractionSink& sink_;
  ZipNameDecoder names_;
  bool headerRead_ = false;
  bool lastMemberFailed_ = false;
  bool passwordRefused_ = false;  // a reading again ran out of passwords
  std::size_t headersRead_ = 0;   // up to the member at hand, which reading again counts to
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
