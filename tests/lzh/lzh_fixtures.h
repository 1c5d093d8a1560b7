#pragma once

#include "support/archiver_library.h"
#include "support/tree_snapshot.h"

inline std::string lzhFixture(const std::string& name) {
  return std::string(PARVO_SOURCE_DIR) + "/tests/lzh/fixtures/" + name;
}

// Everything one of the fixtures extracts to, under out/x.
inline Contents extractFixture(const std::string& name, TemporaryFolder& out) {
  const ArchiverResult result = extractWith(kLzh, lzhFixture(name), out / "x");
  EXPECT_EQ(result.code, kOk) << name << ": " << result.output;
  return entriesIn(out / "x");
}
