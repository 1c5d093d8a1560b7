#include "cab/self_extractor.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "cab/sfx_stub/sfx_trailer.h"
#include "common/archive_error.h"
#include "common/archive_output.h"
#include "common/input_file.h"
#include "common/progress.h"

// The stub program, built with this library and carried inside it, so an installed library needs
// nothing beside it.
asm(".pushsection .rodata.parvo_sfx_stub, \"a\"\n"
    ".balign 16\n"
    ".globl parvo_sfx_stub_begin\n"
    ".hidden parvo_sfx_stub_begin\n"
    "parvo_sfx_stub_begin:\n"
    ".incbin \"" PARVO_SFX_STUB
    "\"\n"
    ".globl parvo_sfx_stub_end\n"
    ".hidden parvo_sfx_stub_end\n"
    "parvo_sfx_stub_end:\n"
    ".popsection\n");
extern "C" const char parvo_sfx_stub_begin[];
extern "C" const char parvo_sfx_stub_end[];

namespace archivers::cab {
namespace {

constexpr std::string_view kCabinetSignature = "MSCF";

}  // namespace

std::string writeSelfExtractor(const std::string& cabinetPath, const std::string& destinationFolder,
                               FollowedCall& call, const std::vector<SfxFolder>& emptyFolders) {
  InputFile cabinet(cabinetPath, call);
  char signature[4] = {};
  if (cabinet.read(signature, sizeof signature) != sizeof signature ||
      std::string_view(signature, sizeof signature) != kCabinetSignature) {
    throw ArchiveError(Result::kCannotOpen, "not a cabinet", cabinetPath);
  }
  cabinet.seek(0);

  const std::string stem = selfExtractorStem(cabinetPath);
  if (stem.empty()) throw ArchiveError(Result::kCannotOpen, "no cabinet name", cabinetPath);
  std::string folder = destinationFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const std::string programPath = folder + stem + ".run";

  ArchiveOutput output(programPath, call);
  call.setTotal(cabinet.size());
  const std::size_t stubBytes = static_cast<std::size_t>(parvo_sfx_stub_end - parvo_sfx_stub_begin);
  output.write(parvo_sfx_stub_begin, stubBytes);
  std::vector<char> buffer(1 << 20);
  while (const std::size_t count = cabinet.read(buffer.data(), buffer.size())) {
    output.write(buffer.data(), count);
  }
  if (output.size() - stubBytes != cabinet.size()) {
    throw ArchiveError(Result::kCannotOpen, "the cabinet changed while it was read", cabinetPath);
  }
  const std::vector<unsigned char> folders = SfxTrailer::encodeFolders(emptyFolders);
  output.write(folders.data(), folders.size());
  const SfxTrailer trailer{stubBytes, cabinet.size(), folders.size()};
  const auto trailerBytes = trailer.encode();
  output.write(trailerBytes.data(), trailerBytes.size());
  output.makeExecutable();
  output.commit();
  return stem + ".run written, a self-extracting program of " + std::to_string(output.size()) +
         " bytes";
}

}  // namespace archivers::cab
