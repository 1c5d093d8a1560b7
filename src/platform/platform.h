#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace parvo {

class DialogView;
struct FormLayout;

// How the platform writes paths. The core splits, joins and expands paths only through this.
struct PathSyntax {
  wchar_t separator;       // '\\' on Windows, '/' on POSIX
  std::size_t rootLength;  // characters before the root separator kept as they stand:
                           // 2 for a drive ("C:"), 0 for the POSIX root
};

inline constexpr std::uint32_t kDirectoryAttribute = 0x10;

struct SettingKey {
  std::wstring application;
  std::wstring section;
  std::wstring key;
};

// A loaded shared library; unloaded when destroyed.
class LoadedLibrary {
 public:
  virtual ~LoadedLibrary() = default;
  // Null when the library has no such entry point.
  virtual void* entryPoint(const std::string& name) = 0;
};

// Everything the portable core needs from the operating system.
class Platform {
 public:
  virtual ~Platform() = default;

  // The program's arguments as one text, without the program's own name.
  virtual std::wstring argumentText() = 0;
  virtual PathSyntax pathSyntax() const = 0;

  // Single-entry directory search of a full path, finding folders, hidden and system entries
  // too: the entry's name as the file system stores it (the long name for a short alias), or
  // nothing when there is no such entry.
  virtual std::optional<std::wstring> findEntryName(const std::wstring& path) = 0;
  // Attribute bits of an existing item. Raises 53 (file not found) or 76 (path not found, when
  // a folder on the way is missing).
  virtual std::uint32_t fileAttributes(const std::wstring& path) = 0;
  // Makes the folder the current directory (drive included where there are drives).
  virtual void changeDirectory(const std::wstring& path) = 0;
  virtual void deleteFile(const std::wstring& path) = 0;
  // A new, uniquely named folder that only this user can enter, for one job's temporary files.
  // Raises 75 (path/file access error) when none can be made.
  virtual std::wstring createPrivateFolder() = 0;
  // Removes a folder made by createPrivateFolder with whatever is left in it; never fails.
  virtual void removeFolder(const std::wstring& path) noexcept = 0;

  // The user's desktop folder, without a trailing separator; nothing when there is none.
  virtual std::optional<std::wstring> desktopFolder() = 0;

  // Per-user settings store: nothing when the value was never written (or cannot be read).
  virtual std::optional<std::wstring> readSetting(const SettingKey& key) = 0;
  // Raises a run-time error when the value cannot be stored.
  virtual void writeSetting(const SettingKey& key, const std::wstring& value) = 0;

  // A message box with an OK button only and no icon; returns when the user has closed it.
  virtual void showMessage(const std::wstring& text, const std::wstring& caption) = 0;
  // One pass over pending window messages.
  virtual void pumpMessages() = 0;
  // A hidden window rendering the layout, for the settings dialog. Raises a run-time error
  // when no window can be shown.
  virtual std::unique_ptr<DialogView> createDialogView(const FormLayout& layout) = 0;

  // The platform's file name for a library known by its Windows name ("UNZIP32.DLL").
  virtual std::wstring libraryFileName(const std::wstring& windowsName) const = 0;
  // Loads a library by file name through the ordinary search; null when it cannot be loaded.
  virtual std::unique_ptr<LoadedLibrary> loadLibrary(const std::wstring& fileName) = 0;

  // Text crossing to and from the archiver libraries (the ANSI code page on Windows, UTF-8
  // on POSIX). Nothing when the text has no exact counterpart there: a look-alike or a stand-in
  // character could change what a command line says.
  virtual std::optional<std::string> toArchiverText(const std::wstring& text) const = 0;
  virtual std::wstring fromArchiverText(const std::string& text) const = 0;
};

}  // namespace parvo
