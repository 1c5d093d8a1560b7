#include "cab/mspack_bridge.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace archivers::cab {
namespace {

// The decoders need a few MiB at most (a 2 MiB window and small buffers); anything past this
// comes from a hostile header.
constexpr std::size_t kMemoryLimit = 64u << 20;

// libmspack hands its callbacks copies of the system structure (and messages name no owner), so
// the bridge of the operation running on this thread is found here.
thread_local MspackBridge* currentBridge = nullptr;

struct Handle {
  MspackBridge* owner;
  ArchiveInput* input;  // null for the output handle
  std::uint64_t position = 0;
};

Handle* handleOf(mspack_file* file) {
  return reinterpret_cast<Handle*>(file);
}

mspack_file* openFile(mspack_system*, const char* filename, int mode) {
  MspackBridge* owner = currentBridge;
  if (owner == nullptr) return nullptr;
  try {
    if (mode == MSPACK_SYS_OPEN_READ) {
      ArchiveInput* input = owner->input(filename);
      return input == nullptr ? nullptr : reinterpret_cast<mspack_file*>(new Handle{owner, input});
    }
    if (mode == MSPACK_SYS_OPEN_WRITE && owner->output() != nullptr &&
        std::strcmp(filename, MspackBridge::outputName()) == 0) {
      return reinterpret_cast<mspack_file*>(new Handle{owner, nullptr});
    }
  } catch (...) {
    owner->recordError(std::current_exception());
  }
  return nullptr;
}

void closeFile(mspack_file* file) {
  delete handleOf(file);
}

int readFile(mspack_file* file, void* buffer, int bytes) {
  Handle* handle = handleOf(file);
  if (handle->input == nullptr || bytes < 0) return -1;
  try {
    const std::size_t got =
        handle->input->readAt(handle->position, buffer, static_cast<std::size_t>(bytes));
    handle->position += got;
    return static_cast<int>(got);
  } catch (...) {
    handle->owner->recordError(std::current_exception());
    return -1;
  }
}

int writeFile(mspack_file* file, void* buffer, int bytes) {
  Handle* handle = handleOf(file);
  FileOutput* output = handle->owner->output();
  if (handle->input != nullptr || output == nullptr || bytes < 0) return -1;
  try {
    output->write(buffer, static_cast<std::size_t>(bytes));
    return bytes;
  } catch (...) {
    handle->owner->recordError(std::current_exception());
    return -1;
  }
}

int seekFile(mspack_file* file, off_t offset, int mode) {
  Handle* handle = handleOf(file);
  if (handle->input == nullptr) return -1;
  const auto size = static_cast<off_t>(handle->input->size());
  off_t base = 0;
  if (mode == MSPACK_SYS_SEEK_CUR) {
    base = static_cast<off_t>(handle->position);
  } else if (mode == MSPACK_SYS_SEEK_END) {
    base = size;
  } else if (mode != MSPACK_SYS_SEEK_START) {
    return -1;
  }
  // A position before the start or past the end is a header pointing outside the file.
  if (offset < -base || offset > size - base) return -1;
  handle->position = static_cast<std::uint64_t>(base + offset);
  return 0;
}

off_t tellFile(mspack_file* file) {
  Handle* handle = handleOf(file);
  return handle->input == nullptr ? -1 : static_cast<off_t>(handle->position);
}

__attribute__((format(printf, 2, 3))) void reportMessage(mspack_file*, const char* format, ...) {
  if (currentBridge == nullptr) return;
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  try {
    currentBridge->recordMessage(text);
  } catch (...) {
    currentBridge->recordError(std::current_exception());
  }
}

// Each block carries its size and owner ahead of the memory handed out.
struct alignas(std::max_align_t) BlockHeader {
  std::size_t size;
  MspackBridge* owner;
};

void* allocate(mspack_system*, std::size_t bytes) {
  MspackBridge* owner = currentBridge;
  if (owner == nullptr || !owner->reserve(bytes)) return nullptr;
  void* block = std::malloc(sizeof(BlockHeader) + bytes);
  if (block == nullptr) {
    owner->release(bytes);
    return nullptr;
  }
  auto* header = static_cast<BlockHeader*>(block);
  header->size = bytes;
  header->owner = owner;
  return header + 1;
}

void freeBlock(void* pointer) {
  if (pointer == nullptr) return;
  BlockHeader* header = static_cast<BlockHeader*>(pointer) - 1;
  header->owner->release(header->size);
  std::free(header);
}

void copyBytes(void* source, void* destination, std::size_t bytes) {
  std::memmove(destination, source, bytes);
}

}  // namespace

MspackBridge::MspackBridge(ArchiveInput& archive) : archive_(archive) {
  system_ = mspack_system{openFile,      closeFile, readFile,  writeFile, seekFile, tellFile,
                          reportMessage, allocate,  freeBlock, copyBytes, nullptr};
  currentBridge = this;
}

MspackBridge::~MspackBridge() {
  if (currentBridge == this) currentBridge = nullptr;
}

ArchiveInput* MspackBridge::input(std::string_view name) {
  if (name == archiveName()) return &archive_;
  auto found = siblings_.find(name);
  if (found == siblings_.end()) {
    found = siblings_.emplace(std::string(name), archive_.openSibling(name)).first;
  }
  return found->second.get();
}

void MspackBridge::recordError(std::exception_ptr error) {
  if (error_ == nullptr) error_ = std::move(error);
}

std::optional<ArchiveError> MspackBridge::takeError() {
  const std::exception_ptr error = std::exchange(error_, nullptr);
  if (error == nullptr) return std::nullopt;
  try {
    std::rethrow_exception(error);
  } catch (const ArchiveError& archiveError) {
    return archiveError;
  }
}

std::string MspackBridge::takeMessage() {
  std::string message = std::move(message_);
  message_.clear();
  return message;
}

bool MspackBridge::reserve(std::size_t bytes) {
  if (bytes > kMemoryLimit - allocated_) return false;
  allocated_ += bytes;
  return true;
}

}  // namespace archivers::cab
