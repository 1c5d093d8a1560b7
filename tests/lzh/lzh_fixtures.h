#pragma once

#include "support/archiver_library.h"
#include "support/tree_snapshot.h"

inline std::string lzhFixture(const std::string& name) {
  return std::string(PARVO_SOURCE_DIR) + "/tests/lzh/fixtures/" + name;
}
