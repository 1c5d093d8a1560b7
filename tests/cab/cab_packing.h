#pragma once

#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/tree_snapshot.h"

namespace cabtest {

// Packs the folder into cabinet with the given method option, as Parvo asks.
inline ArchiverResult packFolder(const std::filesystem::path& folder,
                                 const std::filesystem::path& cabinet,
                                 const std::string& method = "-ml:21") {
  return packIn(folder, kCab, "-a -r " + method + " \"" + cabinet.string() + "\" *.*");
}

// Every reader gives back the tree: cabextract, gcab, bsdtar, 7zz and our own (into
// work/out-ours, for checks of their own).
inline void expectEveryReaderExtracts(const std::filesystem::path& work,
                                      const std::filesystem::path& cabinet,
                                      const Contents& expected) {
  namespace fs = std::filesystem;
  const struct {
    const char* reader;
    std::vector<std::string> command;  // the folder to extract into is appended where it goes
  } readers[] = {
      {"cabextract", {"cabextract", "-q", cabinet, "-d"}},
      {"gcab", {"gcab", "-x", cabinet, "-C"}},
      {"bsdtar", {"bsdtar", "-xf", cabinet, "-C"}},
      {"7zz", {"7zz", "x", "-bd", cabinet}},
  };
  for (const auto& [reader, command] : readers) {
    SCOPED_TRACE(reader);
    const fs::path out = work / (std::string("out-") + reader);
    fs::remove_all(out);
    fs::create_directories(out);
    std::vector<std::string> argv = command;
    argv.push_back(std::string(reader) == "7zz" ? "-o" + out.string() : out.string());
    runTool(argv, work);
    expectContents(filesIn(out), expected);
  }
  fs::remove_all(work / "out-ours");
  const ArchiverResult ours = extractWith(kCab, cabinet, work / "out-ours");
  ASSERT_EQ(ours.code, kOk) << ours.output;
  expectContents(filesIn(work / "out-ours"), expected);
}

}  // namespace cabtest
