#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/archiver_library.h"
#include "support/peer_tool.h"
#include "support/tree_snapshot.h"

// Runs command (a shell line that writes ../archive) in work/source, extracts work/archive into a
// fresh work/out and expects exactly the tree `expected` there.
inline void expectRoundTrip(const Archiver& archiver, const TemporaryFolder& work,
                            const std::string& command, const std::string& archive,
                            const Tree& expected) {
  SCOPED_TRACE(command);
  std::filesystem::remove(work / archive);
  std::filesystem::remove_all(work / "out");
  runShell(command, work / "source");
  const ArchiverResult result = extractWith(archiver, work / archive, work / "out");
  EXPECT_EQ(result.code, kOk) << result.output;
  EXPECT_EQ(snapshot(work / "out"), expected);
}
