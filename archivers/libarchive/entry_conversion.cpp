#include "libarchive/entry_conversion.h"

#include <archive_entry.h>

#include "common/text_encoding.h"

namespace archivers {

namespace {

std::string text(const char* bytes) {
  return bytes != nullptr ? bytes : "";
}

// ZIP names are handed over as stored (libarchive leaves names without the UTF-8 flag alone under
// a UTF-8 locale) and read as our own reader reads them (decodeZipName). Only then is '\' a
// separator. TAR names are Unix paths, where a backslash is an ordinary character.
std::string memberName(const char* stored, ArchiveKind kind, ZipNameDecoder& names) {
  if (kind == ArchiveKind::kZip) return withForwardSlashes(names.decode(text(stored)));
  return text(stored);
}

std::optional<EntryType> entryType(archive_entry* entry) {
  if (archive_entry_hardlink(entry) != nullptr) return EntryType::kHardlink;
  switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
    case 0:  // old ZIP writers leave the type out; libarchive spots folders by a trailing '/'
      return EntryType::kFile;
    case AE_IFDIR:
      return EntryType::kDirectory;
    case AE_IFLNK:
      return EntryType::kSymlink;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<EntryInfo> toEntryInfo(archive_entry* entry, ArchiveKind kind,
                                     ZipNameDecoder& names) {
  const std::optional<EntryType> type = entryType(entry);
  if (!type) return std::nullopt;
  EntryInfo info;
  info.type = *type;
  info.path = memberName(archive_entry_pathname(entry), kind, names);
  if (*type == EntryType::kHardlink) {
    info.linkTarget = memberName(archive_entry_hardlink(entry), kind, names);
  } else if (*type == EntryType::kSymlink) {
    // Link text keeps its separators: they are part of what the link means.
    const std::string target = text(archive_entry_symlink(entry));
    info.linkTarget = kind == ArchiveKind::kZip ? decodeZipName(target) : target;
  }
  if (archive_entry_size_is_set(entry) && archive_entry_size(entry) >= 0) {
    info.declaredSize = static_cast<std::uint64_t>(archive_entry_size(entry));
  }
  if (archive_entry_mtime_is_set(entry)) info.mtime = archive_entry_mtime(entry);
  if (const mode_t permissions = archive_entry_perm(entry); permissions != 0) {
    info.mode = static_cast<std::uint32_t>(permissions & 07777);
  }
  return info;
}

}  // namespace archivers
