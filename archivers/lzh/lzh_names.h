#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace archivers::lzh {

// The name fields of a header exactly as stored.
struct StoredName {
  std::string name;                           // level 0/1 name field, or extended header 0x01
  bool nameFromExtendedHeader = false;        // the 0x01 form holds no folder part of its own
  std::optional<std::string> directory;       // extended header 0x02, 0xFF separated
  std::optional<std::string> utf16Name;       // extended header 0x44, UTF-16LE
  std::optional<std::string> utf16Directory;  // extended header 0x45, UTF-16LE, 0xFFFF separated
};

struct DecodedName {
  std::string path;        // UTF-8, '/' separated
  std::string linkTarget;  // for a symbolic link stored as "name|target"
  bool hasName = false;    // a last component that names a file, not only folders
};

// Decodes the stored name to UTF-8 before splitting it: in CP932 a trail byte may be 0x5C, so
// '\' is only a separator once the text is decoded. 0xFF separates folders in every form.
// All-caps names from MS-DOS-like systems are lowered, as those systems did not keep case.
// Leading '/' are dropped: names stored from the root land below the destination.
DecodedName decodeMemberName(const StoredName& stored, std::uint8_t osId, bool isSymlink);

// UTF-16LE bytes to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16LeToUtf8(const std::string& bytes);

}  // namespace archivers::lzh
