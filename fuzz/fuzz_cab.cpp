// Arbitrary bytes as a cabinet through the whole extraction: libmspack behind our file bridge, the
// MSZIP folders through zlib, members into the extraction sink under a folder emptied after every
// run. Damage must surface as ArchiveError, never as a crash, an overrun or a leak.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cab/cabinet_extraction.h"
#include "common/archive_error.h"

namespace {

// A fresh folder under /tmp for the cabinet and what it extracts, removed on exit.
class WorkFolder {
 public:
  WorkFolder() {
    if (mkdtemp(path_.data()) == nullptr) std::abort();
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  ~WorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_ = "/tmp/fuzz_cab-XXXXXX";
};

const WorkFolder workFolder;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string cabinet = workFolder.path() + "/fuzz.cab";
  const std::string output = workFolder.path() + "/out";
  FILE* file = std::fopen(cabinet.c_str(), "wb");
  if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
    std::abort();
  }
  try {
    archivers::cab::extractCabinet(cabinet, output + "/");
  } catch (const archivers::ArchiveError& error) {
    // kInternal stands for a fault of ours, not of the input.
    if (error.result() == archivers::Result::kInternal) std::abort();
  }
  std::filesystem::remove_all(output);
  return 0;
}
