#pragma once

#include <string>

inline std::string lzhFixture(const std::string& name) {
  return std::string(PARVO_SOURCE_DIR) + "/tests/lzh/fixtures/" + name;
}

inline std::string corpusArchive(const std::string& name) {
  return std::string(PARVO_CORPUS_DIR) + "/lzh/" + name;
}
