#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "common/archive_error.h"
#include "common/archive_input.h"
#include "common/command_line.h"
#include "common/extraction_sink.h"
#include "common/progress.h"

namespace archivers {

// A reader in the one shape, with the format it reads. Each format's header names its own
// (lzh::kReader, ...); format_readers.h lists them all.
struct FormatReader {
  std::string_view format;
  ReadArchive read;
};

// How an entry point spells extraction: a verb operand before the archive where it takes one
// ("e" for "e -rxy ARCHIVE DEST/"), and the options that must all be there.
struct ExtractionForm {
  std::string_view verb;  // empty for none
  std::initializer_list<std::string_view> options;
};

// Every extracting entry point's one path: checks the command against the form, opens the archive
// file, follows the call, reads it with the reader into a sink on the destination and finishes.
// Returns the summary; throws what the sink's finish() or the reader throws.
std::string runExtraction(const Command& command, const ExtractionForm& form,
                          const FormatReader& reader, FollowedCall& call);
std::string runExtraction(std::string_view commandLine, const ExtractionForm& form,
                          const FormatReader& reader, FollowedCall& call);

// The same from an input already open (the fuzz targets' memory).
std::string extractArchive(const FormatReader& reader, ArchiveInput& input,
                           const std::string& destination, FollowedCall& call);

// The one member policy. Runs one member's extraction: damage to it, its method or anything else
// wrong with that member alone is recorded in the sink against its name (or, with no name, as it
// stands) and the reader goes on with the next member. A write failure, a cancel, an input that
// can no longer be read, and anything that is not an ArchiveError end the extraction; what was
// complete stays.
template <typename Extract>
void guardMember(ExtractionSink& sink, std::string_view name, Extract&& extract) {
  try {
    extract();
  } catch (const ArchiveError& error) {
    if (endsExtraction(error)) throw;
    if (name.empty()) {
      sink.fail(error);
    } else {
      sink.fail(error.result(), error.what(), name);
    }
  }
}

}  // namespace archivers
