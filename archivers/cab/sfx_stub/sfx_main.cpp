// parvo-sfx-stub: the program at the start of a self-extracting archive NAME.run. It finds the
// cabinet appended to its own file and extracts it through the library's extraction sink: no name
// escapes the destination, no link is followed, every file appears complete or not at all.
#include <mspack.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cab/cab_member.h"
#include "cab/cabinet_extraction.h"
#include "cab/mspack_bridge.h"
#include "cab/sfx_stub/sfx_trailer.h"
#include "common/archive_error.h"
#include "common/extraction_sink.h"
#include "common/input_file.h"
#include "common/progress.h"
#include "common/utf8.h"

namespace {

using archivers::cab::SfxFolder;
using archivers::cab::SfxTrailer;

constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

// What the user is told, in one line after the program's name.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Options {
  bool list = false;
  bool overwrite = false;
  bool help = false;
  std::string destination;  // empty: the folder named after the program, beside it
};

struct PackedFile {
  std::string path;
  std::uint64_t size = 0;
};

std::string leafOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// NAME for NAME.run; a program renamed without the extension extracts into NAME.extracted, so the
// folder never takes the program's own name. Leading dots are skipped, so that "..run" does not
// extract into its own folder, nor "...run" into the one above; nothing for a name of dots alone.
std::optional<std::string> folderNameFor(const std::string& programName) {
  constexpr std::string_view kExtension = ".run";
  std::string name = programName + ".extracted";
  if (programName.size() > kExtension.size() && programName.ends_with(kExtension)) {
    name = programName.substr(0, programName.size() - kExtension.size());
  }
  const std::size_t start = name.find_first_not_of('.');
  if (start == std::string::npos) return std::nullopt;
  return name.substr(start);
}

void printUsage(const std::string& programName) {
  const std::optional<std::string> folder = folderNameFor(programName);
  const std::string where =
      folder ? "the folder " + *folder + " beside it" : "the folder given with --dest";
  std::printf(
      "Usage: %s [--list] [--dest FOLDER] [--overwrite] [--help]\n"
      "Extracts the files packed into this program into %s.\n"
      "\n"
      "  --list         list the packed files with their sizes; extract nothing\n"
      "  --dest FOLDER  extract into FOLDER instead (created when missing; a link to a\n"
      "                 folder is followed)\n"
      "  --overwrite    replace files that already exist; without it nothing is extracted\n"
      "                 when any of the files is already there\n"
      "  --help         show this help\n",
      programName.c_str(), where.c_str());
}

// Nothing, with the reason in error, when the arguments make no sense.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--list") {
      options.list = true;
    } else if (argument == "--overwrite") {
      options.overwrite = true;
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--dest" && i + 1 < argc && argv[i + 1][0] != '\0') {
      options.destination = argv[++i];
    } else if (argument.starts_with("--dest=") && argument.size() > 7) {
      options.destination = argument.substr(7);
    } else if (argument == "--dest" || argument.starts_with("--dest=")) {
      error = "--dest needs a folder";
      return std::nullopt;
    } else {
      error = "unknown argument '" + std::string(argument) + "'";
      return std::nullopt;
    }
  }
  return options;
}

// The program's own file, symbolic links resolved.
std::string ownPath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) throw Failure("cannot find its own file (is /proc mounted?)");
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

[[noreturn]] void failIncomplete() {
  throw Failure(
      "is damaged or incomplete: its packed files are missing or cut short (was the download or "
      "copy interrupted?)");
}

// What follows the stub: where the cabinet lies, and the empty folders to make.
struct Payload {
  SfxTrailer trailer;
  std::vector<SfxFolder> folders;
};

Payload readPayload(const std::string& self, archivers::FollowedCall& call) {
  archivers::InputFile file(self, call);
  std::array<unsigned char, SfxTrailer::kBytes> bytes{};
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), bytes.size()));
  file.seek(file.size() - count);
  file.readExact(bytes.data(), count);
  const std::optional<SfxTrailer> trailer = SfxTrailer::decode(std::span(bytes).first(count));
  if (!trailer || trailer->bytes > file.size()) failIncomplete();
  // Each part within what the one before it leaves, so that no sum can wrap around.
  std::uint64_t left = file.size() - trailer->bytes;
  if (trailer->foldersLength > left) failIncomplete();
  left -= trailer->foldersLength;
  if (trailer->cabinetOffset > left || trailer->cabinetLength != left - trailer->cabinetOffset) {
    failIncomplete();
  }
  file.seek(left);
  const std::vector<std::uint8_t> folderBytes =
      file.readBytes(static_cast<std::size_t>(trailer->foldersLength));
  std::optional<std::vector<SfxFolder>> folders = SfxTrailer::decodeFolders(folderBytes);
  if (!folders) failIncomplete();
  return {*trailer, std::move(*folders)};
}

// The members of every cabinet in the file, as extraction will find them. The one the trailer
// names must be among them.
std::vector<PackedFile> packedFiles(const std::string& self, const SfxTrailer& trailer,
                                    archivers::FollowedCall& call) {
  archivers::FileArchiveInput input(self, call);
  archivers::cab::MspackBridge bridge(input);
  const auto destroy = [](mscab_decompressor* decompressor) {
    mspack_destroy_cab_decompressor(decompressor);
  };
  std::unique_ptr<mscab_decompressor, decltype(destroy)> decompressor(
      mspack_create_cab_decompressor(bridge.system()), destroy);
  if (!decompressor) throw Failure("cannot start the cabinet decoder");
  mscabd_cabinet* cabinets =
      decompressor->search(decompressor.get(), archivers::cab::MspackBridge::archiveName());
  bool payloadFound = false;
  std::vector<PackedFile> files;
  for (const mscabd_cabinet* cabinet = cabinets; cabinet != nullptr; cabinet = cabinet->next) {
    if (static_cast<std::uint64_t>(cabinet->base_offset) == trailer.cabinetOffset) {
      payloadFound = true;
    }
    for (const mscabd_file* file = cabinet->files; file != nullptr; file = file->next) {
      files.push_back({archivers::cab::memberPath(*file), file->length});
    }
  }
  decompressor->close(decompressor.get(), cabinets);
  if (!payloadFound) {
    const std::optional<archivers::ArchiveError> error = bridge.takeError();
    throw Failure("is damaged: its packed files cannot be read" +
                  (error ? std::string(" (") + error->what() + ")" : std::string()));
  }
  return files;
}

// Where a packed name lands under destination; nothing for a name the sink refuses, which is
// never written.
std::optional<std::string> landingPath(const std::string& name, const std::string& destination) {
  const archivers::MemberPath split = archivers::splitEntryPath(name);
  if (split.refusal != nullptr) return std::nullopt;
  std::string path = destination;
  for (const std::string& component : split.components) path += "/" + component;
  return path;
}

// The first packed file already under destination, or anything but a folder where an empty
// folder goes (a folder already there is simply used).
std::optional<std::string> firstExisting(const std::vector<PackedFile>& files,
                                         const std::vector<SfxFolder>& folders,
                                         const std::string& destination) {
  struct stat status {};
  for (const PackedFile& file : files) {
    const std::optional<std::string> path = landingPath(file.path, destination);
    if (path && ::lstat(path->c_str(), &status) == 0) return path;
  }
  for (const SfxFolder& folder : folders) {
    const std::optional<std::string> path = landingPath(folder.path, destination);
    if (path && ::lstat(path->c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) return path;
  }
  return std::nullopt;
}

// "4 files", "1 file and 2 folders".
std::string counted(std::size_t files, std::size_t folders) {
  std::string text = std::to_string(files) + (files == 1 ? " file" : " files");
  if (folders > 0)
    text += " and " + std::to_string(folders) + (folders == 1 ? " folder" : " folders");
  return text;
}

// Extracts the cabinet the trailer locates and makes the empty folders, through one sink. A
// destination the user named is followed when it is a link; the default one never is.
void extract(const std::string& self, const std::vector<SfxFolder>& folders,
             const std::string& destination, archivers::DestinationLink destinationLink,
             archivers::FollowedCall& call) {
  archivers::FileArchiveInput input(self, call);
  call.setArchive(self, input.size());
  archivers::ExtractionSink sink(destination, call, destinationLink);
  archivers::cab::readCabinet(input, sink);
  for (const SfxFolder& folder : folders) {
    sink.createDirectory({folder.path,
                          archivers::EntryType::kDirectory,
                          std::nullopt,
                          folder.mtime,
                          std::nullopt,
                          {}});
  }
  sink.finish();
}

std::string absolute(const std::string& path) {
  if (path.starts_with('/')) return path;
  std::string folder(4096, '\0');
  if (::getcwd(folder.data(), folder.size()) == nullptr) return path;
  folder.resize(folder.find('\0'));
  return folder + "/" + path;
}

// One line on a terminal, rewritten in place, for extractions that last.
class TerminalProgress final : public archivers::ProgressPresenter {
 public:
  explicit TerminalProgress(std::string programName) : programName_(std::move(programName)) {}
  ~TerminalProgress() override {
    if (shown_) std::fputs("\r\033[K", stderr);
  }
  std::chrono::milliseconds delay() const override { return std::chrono::seconds(1); }
  bool update(const archivers::ProgressSnapshot& snapshot) override {
    const unsigned percent =
        snapshot.total == 0 ? 0 : static_cast<unsigned>(snapshot.done * 100 / snapshot.total);
    winsize window{};
    const int columns =
        ::ioctl(STDERR_FILENO, TIOCGWINSZ, &window) == 0 && window.ws_col > 0 ? window.ws_col : 80;
    std::string line = programName_ + ": " + std::to_string(percent) + "% ";
    line += snapshot.member;
    line.resize(std::min<std::size_t>(line.size(), archivers::utf8PrefixLength(line, columns - 1)));
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    shown_ = true;
    return false;
  }

 private:
  std::string programName_;
  bool shown_ = false;
};

int run(const std::string& programName, const Options& options) {
  const std::string self = ownPath();
  Payload payload;
  std::vector<PackedFile> files;
  {
    // Reading what the program carries is a call of its own: quick, and shown by nothing.
    archivers::FollowedCall reading(nullptr);
    payload = readPayload(self, reading);
    files = packedFiles(self, payload.trailer, reading);
  }
  const std::vector<SfxFolder>& folders = payload.folders;

  if (options.list) {
    std::uint64_t total = 0;
    for (const PackedFile& file : files) {
      std::printf("%12llu  %s\n", static_cast<unsigned long long>(file.size), file.path.c_str());
      total += file.size;
    }
    for (const SfxFolder& folder : folders) std::printf("%12s  %s/\n", "", folder.path.c_str());
    std::printf("%s, %llu bytes\n", counted(files.size(), folders.size()).c_str(),
                static_cast<unsigned long long>(total));
    return 0;
  }

  std::string destination = options.destination.empty() ? self.substr(0, self.rfind('/') + 1) +
                                                              folderNameFor(programName).value()
                                                        : absolute(options.destination);
  while (destination.size() > 1 && destination.back() == '/') destination.pop_back();
  if (!options.overwrite) {
    if (const std::optional<std::string> existing = firstExisting(files, folders, destination)) {
      throw Failure(*existing +
                    " already exists; nothing was extracted. Run with --overwrite to replace "
                    "existing files, or with --dest FOLDER to extract elsewhere.");
    }
  }
  try {
    archivers::FollowedCall call(
        ::isatty(STDERR_FILENO) ? std::make_unique<TerminalProgress>(programName) : nullptr);
    extract(self, folders, destination,
            options.destination.empty() ? archivers::DestinationLink::kRefuse
                                        : archivers::DestinationLink::kFollow,
            call);
  } catch (const archivers::ArchiveError& error) {
    throw Failure("extracting into " + destination + " failed: " + error.what());
  }
  std::printf("%s: %s extracted into %s\n", programName.c_str(),
              counted(files.size(), folders.size()).c_str(), destination.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string programName = leafOf(argc > 0 ? argv[0] : "parvo-sfx");
  try {
    programName = leafOf(ownPath());
  } catch (const Failure&) {
  }
  std::string error;
  const std::optional<Options> options = parseOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "%s: %s (see --help)\n", programName.c_str(), error.c_str());
    return kBadUsage;
  }
  if (options->help) {
    printUsage(programName);
    return 0;
  }
  if (options->destination.empty() && !options->list && !folderNameFor(programName)) {
    std::fprintf(stderr,
                 "Dots alone name no folder to extract into: %s (rename the program, or use "
                 "--dest FOLDER)\n",
                 programName.c_str());
    return kFailed;
  }
  try {
    return run(programName, *options);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "%s: %s\n", programName.c_str(), failure.what());
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s: %s\n", programName.c_str(), failure.what());
  }
  return kFailed;
}
