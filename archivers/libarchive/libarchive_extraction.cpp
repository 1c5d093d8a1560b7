#include "libarchive/libarchive_extraction.h"

#include <archive.h>
#include <archive_entry.h>

#include <optional>

#include "common/command_line.h"
#include "common/extraction_sink.h"
#include "common/progress.h"
#include "libarchive/archive_reader.h"
#include "libarchive/entry_conversion.h"
#include "libarchive/utf8_thread_locale.h"

namespace archivers {

namespace {

// Past this many unusable headers the archive is garbage: stop instead of crawling through it.
constexpr std::size_t kMaxFailedHeaders = 1000;

class Extraction {
 public:
  Extraction(ArchiveInput& input, const std::string& archivePath, const std::string& destination,
             ArchiveKind kind, FollowedCall& call)
      : reader_(input, archivePath, kind, call),
        archivePath_(archivePath),
        destination_(destination),
        call_(call) {}

  std::string run() {
    bool retrying = false;  // the header before was rejected too
    for (;;) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(reader_.handle(), &entry);
      if (status == ARCHIVE_EOF) break;
      if (status == ARCHIVE_FATAL) failAtHeader();
      ExtractionSink& sink = openSink();
      if (status == ARCHIVE_FAILED || status == ARCHIVE_RETRY) {
        // This member's header is unusable but the reader can go on to the next one. Past a
        // damaged TAR header it retries block by block through the member's data: one damaged
        // stretch is one failure.
        if (status == ARCHIVE_FAILED || !retrying) {
          note(ArchiveError(reader_.errorResult(), reader_.errorMessage()));
          if (++failedHeaders_ == kMaxFailedHeaders) throw *firstError_;
        }
        retrying = status == ARCHIVE_RETRY;
        continue;
      }
      retrying = false;
      extract(sink, entry);
    }
    try {
      reader_.verifyToEnd();
    } catch (const ArchiveError& error) {
      if (error.result() == Result::kCancelled) throw;
      note(error);
    }
    return openSink().finish();
  }

 private:
  ExtractionSink& openSink() {
    // Created only once the archive proved readable, so a wrong file leaves no folder behind.
    if (!sink_) sink_.emplace(destination_, call_);
    return *sink_;
  }

  [[noreturn]] void failAtHeader() {
    // A member whose data broke the reader was noted with its name: that says more.
    if (firstError_) throw *firstError_;
    if (const std::optional<ArchiveError>& failure = reader_.inputFailure()) throw *failure;
    if (!sink_ && archive_format(reader_.handle()) == 0) {
      throw ArchiveError(Result::kCannotOpen, reader_.errorMessage(), archivePath_);
    }
    throw ArchiveError(reader_.errorResult(), reader_.errorMessage());
  }

  void extract(ExtractionSink& sink, archive_entry* entry) {
    const std::optional<EntryInfo> info = toEntryInfo(entry, reader_.kind());
    const char* name = archive_entry_pathname(entry);
    const std::string shownName = info ? info->path : (name != nullptr ? name : "");
    if (shownName.empty()) {
      // A header that names nothing is damage, not a name to refuse.
      note(ArchiveError(Result::kCorrupt, "a member's header holds no name"));
    } else if (!info) {
      sink.refuse(shownName, "not a file, folder or link");
    } else if (info->type == EntryType::kDirectory) {
      sink.createDirectory(*info);
    } else if (archive_entry_is_encrypted(entry)) {
      sink.fail(Result::kUnsupported, "encrypted, encryption is not supported", shownName);
    } else if (info->type == EntryType::kFile) {
      extractFile(sink, entry, *info);
    } else {
      sink.createLink(*info);
    }
  }

  void extractFile(ExtractionSink& sink, archive_entry* entry, const EntryInfo& info) {
    std::unique_ptr<FileOutput> output = sink.createFile(info);
    if (!output) return;  // refused; the reader skips its data
    try {
      copyData(entry, *output);
      output->commit();
    } catch (const ArchiveError& error) {
      if (endsExtraction(error)) throw;
      note(error.result(), error.what(), info.path);
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

  void note(const ArchiveError& error) {
    if (!firstError_) firstError_ = error;
    openSink().fail(error);
  }

  void note(Result result, std::string_view reason, std::string_view memberPath) {
    if (!firstError_) firstError_ = ArchiveError(result, reason, memberPath);
    openSink().fail(result, reason, memberPath);
  }

  Utf8ThreadLocale locale_;  // before the reader: libarchive picks its name conversions on setup
  ArchiveReader reader_;
  std::string archivePath_;
  std::string destination_;
  FollowedCall& call_;
  std::optional<ExtractionSink> sink_;
  std::optional<ArchiveError> firstError_;
  std::size_t failedHeaders_ = 0;
};

}  // namespace

ExtractOperands parseExtractCommand(std::string_view commandLine, std::string_view option) {
  const Command command = parseCommand(commandLine);
  requireOptionsWithin(command, {option});
  if (!command.hasOption(option)) {
    throw ArchiveError(Result::kBadCommandLine, "only extraction is supported: expected " +
                                                    std::string(option) + " \"ARCHIVE\" \"DEST/\"");
  }
  requireOperandCount(command, 2);
  if (command.operands[0].empty() || command.operands[1].empty()) {
    throw ArchiveError(Result::kBadCommandLine, "empty archive or destination name");
  }
  return {command.operands[0], command.operands[1]};
}

std::string extractWithLibarchive(ArchiveInput& input, const std::string& archivePath,
                                  const std::string& destination, ArchiveKind kind,
                                  FollowedCall& call) {
  return Extraction(input, archivePath, destination, kind, call).run();
}

std::string runExtractCommand(std::string_view commandLine, std::string_view option,
                              ArchiveKind kind, FollowedCall& call) {
  const ExtractOperands operands = parseExtractCommand(commandLine, option);
  FileArchiveInput input(operands.archive, call);
  call.setArchive(operands.archive, input.size());
  return extractWithLibarchive(input, operands.archive, operands.destination, kind, call);
}

}  // namespace archivers
