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

// Every reader gives back the tree: cabextract, gcab, bsdtar, 7zz, unar and our own (into
// work/out-ours, for checks of their own). A reader that fails or dies of a signal fails the test.
inline void expectEveryReaderExtracts(const std::filesystem::path& work,
                                      const std::filesystem::path& cabinet,
                                      const Contents& expected) {
  namespace fs = std::filesystem;
  const std::string kOut = "\x01";  // stands for the folder to extract into
  const struct {
    const char* reader;
    std::vector<std::string> command;
  } readers[] = {
      {"cabextract", {"cabextract", "-q", cabinet, "-d", kOut}},
      {"gcab", {"gcab", "-x", cabinet, "-C", kOut}},
      {"bsdtar", {"bsdtar", "-xf", cabinet, "-C", kOut}},
      {"7zz", {"7zz", "x", "-bd", cabinet, "-o" + kOut}},
      {"unar", {"unar", "-q", "-D", "-o", kOut, cabinet}},
  };
  for (const auto& [reader, command] : readers) {
    SCOPED_TRACE(reader);
    const fs::path out = work / (std::string("out-") + reader);
    fs::remove_all(out);
    fs::create_directories(out);
    std::vector<std::string> argv = command;
    for (std::string& argument : argv) {
      if (const std::size_t at = argument.find(kOut); at != std::string::npos) {
        argument.replace(at, kOut.size(), out.string());
      }
    }
    runTool(argv, work);
    expectContents(filesIn(out), expected);
  }
  fs::remove_all(work / "out-ours");
  const ArchiverResult ours = extractWith(kCab, cabinet, work / "out-ours");
  ASSERT_EQ(ours.code, kOk) << ours.output;
  expectContents(filesIn(work / "out-ours"), expected);
}

}  // namespace cabtest
