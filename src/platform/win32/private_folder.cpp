#include "platform/win32/private_folder.h"

// windows.h first: the security header needs its types.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <cwchar>
#include <memory>

namespace parvo {
namespace {

struct LocalMemoryDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalMemoryDeleter>;

// "Only this user, inherited by what is made inside": a protected access list with one entry
// for the user's own SID. Null when the token or the SID cannot be read.
LocalMemory userOnlySecurityDescriptor() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  auto buffer = std::make_unique<unsigned char[]>(size);
  const bool haveUser =
      size > 0 && GetTokenInformation(token, TokenUser, buffer.get(), size, &size);
  CloseHandle(token);
  if (!haveUser) return nullptr;

  wchar_t* sidText = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sidText)) {
    return nullptr;
  }
  const LocalMemory sidMemory(sidText);
  const std::wstring descriptorText = L"D:P(A;OICI;FA;;;" + std::wstring(sidText) + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptorText.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  return LocalMemory(descriptor);
}

std::wstring temporaryFolder() {
  std::wstring path(MAX_PATH + 1, L'\0');
  DWORD length = GetTempPathW(static_cast<DWORD>(path.size()), path.data());
  if (length > path.size()) {
    path.resize(length);
    length = GetTempPathW(static_cast<DWORD>(path.size()), path.data());
  }
  if (length == 0 || length > path.size()) return {};
  path.resize(length);
  if (path.back() != L'\\') path += L'\\';
  return path;
}

// The names of the folders this program makes: "parvo-" and eight lower-case hex digits.
bool isFolderName(const std::wstring& name) {
  return name.size() == 14 && name.starts_with(L"parvo-") &&
         name.find_first_not_of(L"0123456789abcdef", 6) == std::wstring::npos;
}

// Whoever uses or removes a folder first holds the lock file beside it, "NAME.lock": unshared,
// and deleted as it closes, also when the holder is killed. A job takes it before the folder
// exists, so a folder whose lock can be had is no running job's, however new.
FolderHold holdName(const std::wstring& folder) {
  const HANDLE lock = CreateFileW((folder + L".lock").c_str(), DELETE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  return FolderHold(lock == INVALID_HANDLE_VALUE ? nullptr : lock);
}

// The folders that earlier jobs left behind: a job that was killed never removed its own.
void removeAbandonedFolders(const std::wstring& parent) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((parent + L"parvo-*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring path = parent + entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        isFolderName(entry.cFileName)) {
      if (const FolderHold hold = holdName(path)) removeFolderTree(path);
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

}  // namespace

void FolderHoldCloser::operator()(void* handle) const noexcept {
  CloseHandle(handle);
}

std::optional<PrivateTemporaryFolder> createPrivateTemporaryFolder() {
  const std::wstring parent = temporaryFolder();
  if (parent.empty()) return std::nullopt;
  removeAbandonedFolders(parent);
  const LocalMemory descriptor = userOnlySecurityDescriptor();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};

  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  auto seed = static_cast<unsigned long>(now.LowPart ^ (GetCurrentProcessId() << 16));
  // The folder must be new: a folder that already exists under the name is never used.
  for (int attempt = 0; attempt < 100; ++attempt) {
    wchar_t name[32];
    std::swprintf(name, 32, L"parvo-%08lx", seed + static_cast<unsigned long>(attempt) * 7919UL);
    const std::wstring path = parent + name;
    FolderHold hold = holdName(path);
    if (!hold) {
      if (GetLastError() == ERROR_SHARING_VIOLATION) continue;
      return std::nullopt;
    }
    if (CreateDirectoryW(path.c_str(), descriptor ? &attributes : nullptr)) {
      return PrivateTemporaryFolder{path, std::move(hold)};
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

void removeFolderTree(const std::wstring& path) noexcept {
  try {
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = path + L'\\' + name;
        const DWORD attributes = entry.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_READONLY) {
          SetFileAttributesW(child.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
        }
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
          DeleteFileW(child.c_str());
        } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
          RemoveDirectoryW(child.c_str());  // a junction or link: the link only
        } else {
          removeFolderTree(child);
        }
      } while (FindNextFileW(search, &entry));
      FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
  } catch (...) {
    // Leaving a temporary folder behind is better than ending the run over it.
  }
}

}  // namespace parvo
