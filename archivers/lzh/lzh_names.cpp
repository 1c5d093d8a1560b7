#include "lzh/lzh_names.h"

#include <algorithm>

#include "common/text_encoding.h"
#include "common/utf8.h"

namespace archivers::lzh {
namespace {

// 0xFF never occurs in CP932 or UTF-8 text, and '/' is never a CP932 trail byte, so this
// replacement is safe before decoding.
std::string withFolderMarksAsSlashes(std::string bytes) {
  std::replace(bytes.begin(), bytes.end(), '\xFF', '/');
  return bytes;
}

std::string utf16FolderToUtf8(const std::string& bytes) {
  std::string result;
  std::string component;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    if (static_cast<unsigned char>(bytes[i]) == 0xFF &&
        static_cast<unsigned char>(bytes[i + 1]) == 0xFF) {
      result += utf16LeToUtf8(component) + '/';
      component.clear();
    } else {
      component.append(bytes, i, 2);
    }
  }
  result += utf16LeToUtf8(component);
  return result;
}

std::string joinFolder(std::string folder, const std::string& name) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + name;
}

bool hasLowerCaseLetter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

void lowerAsciiLetters(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

bool keepsNoCase(std::uint8_t osId) {
  return osId == 0 || osId == 'M' || osId == 'a' || osId == '2';
}

}  // namespace

std::string utf16LeToUtf8(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::uint32_t unit =
        static_cast<unsigned char>(bytes[i]) |
        (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      const std::uint32_t low =
          static_cast<unsigned char>(bytes[i + 2]) |
          (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      if (low >= 0xDC00 && low < 0xE000) {
        appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (unit >= 0xD800 && unit < 0xE000) unit = 0xFFFD;
    appendUtf8(out, unit);
  }
  return out;
}

DecodedName decodeMemberName(const StoredName& stored, std::uint8_t osId, bool isSymlink) {
  std::string folder;
  std::string name;
  const bool fromUtf16 = stored.utf16Name.has_value() || stored.utf16Directory.has_value();
  if (fromUtf16) {
    if (stored.utf16Directory) {
      folder = utf16FolderToUtf8(*stored.utf16Directory);
    } else if (stored.directory) {
      folder = decodeUnflaggedName(withFolderMarksAsSlashes(*stored.directory));
    }
    name = stored.utf16Name ? utf16LeToUtf8(*stored.utf16Name)
                            : decodeUnflaggedName(withFolderMarksAsSlashes(stored.name));
  } else {
    std::string rawName = stored.name;
    // A name from extended header 0x01 holds no folders: a '/' in it is part of the name.
    if (stored.nameFromExtendedHeader) std::replace(rawName.begin(), rawName.end(), '/', '_');
    std::string raw = stored.directory ? joinFolder(withFolderMarksAsSlashes(*stored.directory),
                                                    withFolderMarksAsSlashes(rawName))
                                       : withFolderMarksAsSlashes(rawName);
    name = decodeUnflaggedName(raw);
  }
  std::string full = withForwardSlashes(joinFolder(folder, name));

  DecodedName result;
  if (isSymlink) {
    const std::size_t bar = full.find('|');
    if (bar != std::string::npos) {
      result.linkTarget = full.substr(bar + 1);
      full.resize(bar);
    }
  }
  if (!fromUtf16 && keepsNoCase(osId) && !hasLowerCaseLetter(full)) lowerAsciiLetters(full);
  // Names stored from the root are extracted below the destination like any other.
  full.erase(0, full.find_first_not_of('/') == std::string::npos ? full.size()
                                                                 : full.find_first_not_of('/'));
  result.hasName = !full.empty() && full.back() != '/';
  result.path = std::move(full);
  return result;
}

}  // namespace archivers::lzh
