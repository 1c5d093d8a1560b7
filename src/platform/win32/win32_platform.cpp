#include "platform/win32/win32_platform.h"

#include <windows.h>
// After windows.h, which they need.
#include <direct.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/ansi_text.h"
#include "platform/win32/command_line.h"
#include "platform/win32/private_folder.h"
#include "platform/win32/registry_settings.h"
#include "runtime/run_time_error.h"
#include "view/win32/win32_dialog_view.h"

namespace parvo {
namespace {

class Win32Library : public LoadedLibrary {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { FreeLibrary(module_); }
  Win32Library(const Win32Library&) = delete;
  Win32Library& operator=(const Win32Library&) = delete;

  void* entryPoint(const std::string& name) override {
    return reinterpret_cast<void*>(GetProcAddress(module_, name.c_str()));
  }

 private:
  HMODULE module_;
};

// The run-time error that a failed file-system call stands for.
[[noreturn]] void raiseFileError(DWORD systemError) {
  switch (systemError) {
    case ERROR_FILE_NOT_FOUND:
      raiseError(kFileNotFound);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      raiseError(kPathNotFound);
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      raiseError(kBadFileName);
    default:
      raiseError(kPathFileAccessError);
  }
}

bool isDriveForm(const std::wstring& path) {
  return path.size() >= 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// The shell's path of an item list. The classic call takes a buffer of MAX_PATH characters and
// fails for a longer path; the newer one is told the buffer's size.
std::wstring pathOfItemList(PCIDLIST_ABSOLUTE items) {
  std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
  if (!SHGetPathFromIDListW(items, buffer.data())) {
    buffer.assign(32768, L'\0');
    SHGetPathFromIDListEx(items, buffer.data(), static_cast<DWORD>(buffer.size()), GPFIDL_DEFAULT);
    buffer.back() = L'\0';
  }
  return buffer.data();
}

}  // namespace

Win32Platform::Win32Platform() {
  // Libraries are loaded while a dropped folder is the current directory: never from there.
  SetDllDirectoryW(L"");
}

std::wstring Win32Platform::argumentText() {
  return std::wstring(argumentsAfterProgramName(GetCommandLineW()));
}

std::optional<std::wstring> Win32Platform::findEntryName(const std::wstring& path) {
  // One entry: the search finds folders, hidden and system entries as well as files.
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW(path.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  FindClose(search);
  return std::wstring(entry.cFileName);
}

std::uint32_t Win32Platform::fileAttributes(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) raiseFileError(GetLastError());
  return attributes;
}

void Win32Platform::changeDirectory(const std::wstring& path) {
  std::wstring folder = path;
  if (isDriveForm(path)) {
    const int drive = (path[0] | 0x20) - L'a' + 1;
    if (_chdrive(drive) != 0) raiseError(kPathNotFound);
    folder = path.substr(2);
  }
  if (!folder.empty() && !SetCurrentDirectoryW(folder.c_str())) raiseFileError(GetLastError());
}

void Win32Platform::deleteFile(const std::wstring& path) {
  if (!DeleteFileW(path.c_str())) raiseFileError(GetLastError());
}

std::wstring Win32Platform::createPrivateFolder() {
  auto folder = createPrivateTemporaryFolder();
  if (!folder) raiseError(kPathFileAccessError);
  privateFolderHolds_[folder->path] = std::move(folder->hold);
  return folder->path;
}

void Win32Platform::removeFolder(const std::wstring& path) noexcept {
  removeFolderTree(path);
  privateFolderHolds_.erase(path);
}

std::optional<std::wstring> Win32Platform::desktopFolder() {
  PIDLIST_ABSOLUTE items = nullptr;
  SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &items);
  if (items == nullptr) return std::nullopt;
  std::wstring path = pathOfItemList(items);
  CoTaskMemFree(items);
  return path;
}

std::optional<std::wstring> Win32Platform::readSetting(const SettingKey& key) {
  return readRegistrySetting(key);
}

void Win32Platform::writeSetting(const SettingKey& key, const std::wstring& value) {
  if (!writeRegistrySetting(key, value)) raiseError(kPathFileAccessError);
}

void Win32Platform::showMessage(const std::wstring& text, const std::wstring& caption) {
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

void Win32Platform::pumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

std::unique_ptr<DialogView> Win32Platform::createDialogView(const FormLayout& layout) {
  return std::make_unique<Win32DialogView>(layout);
}

std::unique_ptr<LoadedLibrary> Win32Platform::loadLibrary(const std::wstring& fileName) {
  const HMODULE module = LoadLibraryW(fileName.c_str());
  if (module == nullptr) return nullptr;
  return std::make_unique<Win32Library>(module);
}

std::optional<std::string> Win32Platform::toArchiverText(const std::wstring& text) const {
  return toAnsiText(text);
}

std::wstring Win32Platform::fromArchiverText(const std::string& text) const {
  return fromAnsiText(text);
}

}  // namespace parvo
