#include "common/archive_input.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "common/archive_error.h"
#include "common/progress.h"
#include "common/text_encoding.h"

namespace archivers {

void ArchiveInput::readExactAt(std::uint64_t position, void* data, std::size_t count) {
  if (readAt(position, data, count) != count) {
    throw ArchiveError(Result::kCorrupt, "the archive is truncated");
  }
}

FileArchiveInput::FileArchiveInput(const std::string& path, FollowedCall& call)
    : path_(path), call_(call) {
  RegularFile file = openRegularFile(path);
  fd_ = std::move(file.descriptor);
  size_ = file.size;
}

std::size_t FileArchiveInput::readAt(std::uint64_t position, void* data, std::size_t count) {
  std::size_t done = 0;
  auto* bytes = static_cast<char*>(data);
  while (done < count) {
    const ssize_t got =
        ::pread(fd_.get(), bytes + done, count - done, static_cast<off_t>(position + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      throw ArchiveError(Result::kCannotOpen,
                         std::string("cannot read archive: ") + std::strerror(errno));
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  call_.advance(done);
  return done;
}

std::unique_ptr<ArchiveInput> FileArchiveInput::openSibling(std::string_view name) {
  const std::size_t slash = path_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  // Only the folder's own entries are matched, so no name leads out of it ("..", a slash) and a
  // folder is refused as not a regular file. Sets are named on systems that ignore case; an exact
  // match wins over a case-folded one.
  std::optional<std::string> found;
  if (DIR* directory = ::opendir(folder.empty() ? "." : folder.c_str())) {
    while (const dirent* entry = ::readdir(directory)) {
      if (sameIgnoringAsciiCase(entry->d_name, name)) {
        found = folder + entry->d_name;
        if (name == entry->d_name) break;
      }
    }
    ::closedir(directory);
  }
  if (!found) return nullptr;
  try {
    return std::make_unique<FileArchiveInput>(*found, call_);
  } catch (const ArchiveError&) {
    return nullptr;
  }
}

std::size_t MemoryArchiveInput::readAt(std::uint64_t position, void* data, std::size_t count) {
  if (position >= bytes_.size()) return 0;
  const std::size_t available =
      std::min<std::size_t>(count, bytes_.size() - static_cast<std::size_t>(position));
  std::memcpy(data, bytes_.data() + position, available);
  return available;
}

std::unique_ptr<ArchiveInput> MemoryArchiveInput::openSibling(std::string_view name) {
  const auto found = siblings_.find(std::string(name));
  if (found == siblings_.end()) return nullptr;
  return std::make_unique<MemoryArchiveInput>(found->second);
}

}  // namespace archivers
