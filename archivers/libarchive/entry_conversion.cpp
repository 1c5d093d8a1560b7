#include "libarchive/entry_conversion.h"

#include <archive_entry.h>

#include "common/text_encoding.h"

namespace archivers {

namespace {

std::string text(const char* utf8, const char* asStored) {
  if (utf8 != nullptr) return utf8;
  return asStored != nullptr ? asStored : "";
}

// In a ZIP the names were decoded by the reader (UTF-8 or CP932), so backslashes can be turned
// into separators safely; TAR names are Unix paths where a backslash is an ordinary character.
std::string memberName(const char* utf8, const char* asStored, ArchiveKind kind) {
  if (kind == ArchiveKind::kZip) return withForwardSlashes(text(utf8, asStored));
  return text(nullptr, asStored);
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

std::optional<EntryInfo> toEntryInfo(archive_entry* entry, ArchiveKind kind) {
  const std::optional<EntryType> type = entryType(entry);
  if (!type) return std::nullopt;
  EntryInfo info;
  info.type = *type;
  info.path = memberName(archive_entry_pathname_utf8(entry), archive_entry_pathname(entry), kind);
  if (*type == EntryType::kHardlink) {
    info.linkTarget =
        memberName(archive_entry_hardlink_utf8(entry), archive_entry_hardlink(entry), kind);
  } else if (*type == EntryType::kSymlink) {
    // Link text is kept as written: its separators are part of what the link means.
    info.linkTarget = kind == ArchiveKind::kZip
                          ? text(archive_entry_symlink_utf8(entry), archive_entry_symlink(entry))
                          : text(nullptr, archive_entry_symlink(entry));
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
