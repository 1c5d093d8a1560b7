#include "platform/posix/posix_platform.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwctype>

#include "common/posix_files.h"
#include "platform/posix/argument_text.h"
#include "platform/posix/ini_file.h"
#include "platform/posix/private_folder.h"
#include "platform/posix/utf8_text.h"
#include "platform/posix/xdg_desktop.h"
#include "runtime/run_time_error.h"

namespace parvo {
namespace {

class PosixLibrary : public LoadedLibrary {
 public:
  explicit PosixLibrary(void* handle) : handle_(handle) {}
  ~PosixLibrary() override { dlclose(handle_); }
  void* entryPoint(const std::string& name) override { return dlsym(handle_, name.c_str()); }

 private:
  void* handle_;
};

std::string currentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return "/";
  return buffer.c_str();
}

std::string parentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string executableFolder() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return ".";
  buffer.resize(static_cast<std::size_t>(length));
  return parentOf(buffer);
}

bool isFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Opens one of the program's own libraries by file name through the ordinary search, then
// in the program's RUNPATH spelled out: lib/parvo beside bin when installed, lib in the build
// tree. A sanitizer runtime that intercepts dlopen makes itself the caller, and the loader then
// searches the runtime's path instead of the program's.
void* openProgramLibrary(const std::string& name, int flags) {
  void* handle = dlopen(name.c_str(), flags);
  if (handle != nullptr || name.find('/') != std::string::npos) return handle;
  for (const char* folder : {"/../lib/parvo/", "/../lib/"}) {
    const std::string beside = executableFolder() + folder + name;
    if ((handle = dlopen(beside.c_str(), flags)) != nullptr) break;
  }
  return handle;
}

IniFile settingsFile(const SettingKey& key) {
  const auto folder = configFolder();
  if (!folder) raiseError(kPathNotFound);
  return IniFile(*folder + "/" + toUtf8(key.application) + ".ini");
}

}  // namespace

PosixPlatform::PosixPlatform(std::vector<std::string> arguments)
    : arguments_(std::move(arguments)) {}

std::wstring PosixPlatform::argumentText() {
  return argumentTextFrom(arguments_, currentDirectory());
}

std::optional<std::wstring> PosixPlatform::findEntryName(const std::wstring& path) {
  const std::string bytes = toUtf8(path);
  struct stat info {};
  if (lstat(bytes.c_str(), &info) != 0) return std::nullopt;
  return path.substr(path.find_last_of(L'/') + 1);
}

std::uint32_t PosixPlatform::fileAttributes(const std::wstring& path) {
  const std::string bytes = toUtf8(path);
  struct stat info {};
  if (stat(bytes.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? kDirectoryAttribute : 0;
  if (errno == ENOENT) raiseError(isFolder(parentOf(bytes)) ? kFileNotFound : kPathNotFound);
  if (errno == ENOTDIR) raiseError(kPathNotFound);
  raiseError(kPathFileAccessError);
}

void PosixPlatform::changeDirectory(const std::wstring& path) {
  if (chdir(toUtf8(path).c_str()) != 0) raiseError(kPathNotFound);
}

void PosixPlatform::deleteFile(const std::wstring& path) {
  if (unlink(toUtf8(path).c_str()) == 0) return;
  raiseError(errno == ENOENT ? kFileNotFound : kPathFileAccessError);
}

std::wstring PosixPlatform::createPrivateFolder() {
  // A job's temporary cabinet is as large as the packed folder, so it goes to the user's cache
  // on disk rather than to /tmp, which is often memory; /tmp when there is no cache folder.
  // Killed jobs' folders are swept from both.
  std::optional<LockedFolder> folder;
  if (const auto cache = cacheFolder(); cache && archivers::createFolders(*cache, 0700)) {
    folder = createLockedFolder(*cache);
  }
  const char* base = std::getenv("TMPDIR");
  const std::string temporary = base != nullptr && *base == '/' ? base : "/tmp";
  if (folder) {
    sweepAbandonedFolders(temporary);
  } else {
    folder = createLockedFolder(temporary);
  }
  if (!folder) raiseError(kPathFileAccessError);
  lockedFolders_.emplace(folder->path, folder->fd);
  return fromUtf8(folder->path);
}

void PosixPlatform::removeFolder(const std::wstring& path) noexcept {
  try {
    const auto held = lockedFolders_.find(toUtf8(path));
    if (held == lockedFolders_.end()) return;
    removeLockedFolder({held->first, held->second});
    lockedFolders_.erase(held);
  } catch (...) {
    // Leaving a temporary folder behind is better than ending the run over it.
  }
}

std::optional<std::wstring> PosixPlatform::desktopFolder() {
  const auto folder = parvo::desktopFolder();
  if (!folder) return std::nullopt;
  return fromUtf8(*folder);
}

std::optional<std::wstring> PosixPlatform::readSetting(const SettingKey& key) {
  if (!configFolder()) return std::nullopt;
  const auto value = settingsFile(key).read(toUtf8(key.section), toUtf8(key.key));
  if (!value) return std::nullopt;
  return fromUtf8(*value);
}

void PosixPlatform::writeSetting(const SettingKey& key, const std::wstring& value) {
  if (!settingsFile(key).write(toUtf8(key.section), toUtf8(key.key), toUtf8(value))) {
    raiseError(kPathFileAccessError);
  }
}

PosixPlatform::~PosixPlatform() {
  if (gui_ != nullptr) gui_->stop();
  for (const auto& [path, fd] : lockedFolders_) close(fd);
}

void PosixPlatform::showMessage(const std::wstring& text, const std::wstring& caption) {
  if (GuiModule* module = gui(); module != nullptr && module->showMessage(text, caption)) return;
  const std::string line = toUtf8(caption) + ": " + toUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::unique_ptr<DialogView> PosixPlatform::createDialogView(const FormLayout& layout) {
  GuiModule* module = gui();
  std::unique_ptr<DialogView> view = module != nullptr ? module->createDialogView(layout) : nullptr;
  if (view == nullptr) {
    throw RunTimeError(kErrorInLoadingDll, L"Error in loading DLL: no display for the window");
  }
  return view;
}

GuiModule* PosixPlatform::gui() {
  if (guiTried_) return gui_;
  guiTried_ = true;
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    return nullptr;
  }
  // Never unloaded: a toolkit keeps threads and handlers that outlive its last window.
  void* handle = openProgramLibrary(kGuiModuleFileName, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) return nullptr;
  using Entry = GuiModule* (*)();
  const auto entry = reinterpret_cast<Entry>(dlsym(handle, kGuiModuleEntryPoint));
  GuiModule* module = entry != nullptr ? entry() : nullptr;
  if (module != nullptr && module->start()) gui_ = module;
  return gui_;
}

std::wstring PosixPlatform::libraryFileName(const std::wstring& windowsName) const {
  std::wstring stem;
  for (const wchar_t character : windowsName)
    stem += static_cast<wchar_t>(std::towlower(character));
  if (stem.ends_with(L".dll")) stem.resize(stem.size() - 4);
  return L"lib" + stem + L".so";
}

std::unique_ptr<LoadedLibrary> PosixPlatform::loadLibrary(const std::wstring& fileName) {
  void* handle = openProgramLibrary(toUtf8(fileName), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return std::make_unique<PosixLibrary>(handle);
}

std::optional<std::string> PosixPlatform::toArchiverText(const std::wstring& text) const {
  return toUtf8(text);
}

std::wstring PosixPlatform::fromArchiverText(const std::string& text) const {
  return fromUtf8(text);
}

}  // namespace parvo
