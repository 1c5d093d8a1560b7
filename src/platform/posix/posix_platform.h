#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/gui_module.h"

namespace parvo {

class PosixPlatform : public Platform {
 public:
  explicit PosixPlatform(std::vector<std::string> arguments);
  ~PosixPlatform() override;
  PosixPlatform(const PosixPlatform&) = delete;
  PosixPlatform& operator=(const PosixPlatform&) = delete;

  std::wstring argumentText() override;
  PathSyntax pathSyntax() const override { return {L'/', 0}; }

  std::optional<std::wstring> findEntryName(const std::wstring& path) override;
  std::uint32_t fileAttributes(const std::wstring& path) override;
  void changeDirectory(const std::wstring& path) override;
  void deleteFile(const std::wstring& path) override;
  std::wstring createPrivateFolder() override;
  void removeFolder(const std::wstring& path) noexcept override;
  std::optional<std::wstring> desktopFolder() override;

  std::optional<std::wstring> readSetting(const SettingKey& key) override;
  void writeSetting(const SettingKey& key, const std::wstring& value) override;

  // In a message box when there is a display, else on standard error as "CAPTION: text".
  void showMessage(const std::wstring& text, const std::wstring& caption) override;
  void pumpMessages() override {}
  std::unique_ptr<DialogView> createDialogView(const FormLayout& layout) override;

  std::wstring libraryFileName(const std::wstring& windowsName) const override;
  std::unique_ptr<LoadedLibrary> loadLibrary(const std::wstring& fileName) override;

  std::optional<std::string> toArchiverText(const std::wstring& text) const override;
  std::wstring fromArchiverText(const std::string& text) const override;

 private:
  // The started GUI module, or null when there is no display or it cannot be loaded.
  GuiModule* gui();

  std::vector<std::string> arguments_;
  bool guiTried_ = false;
  GuiModule* gui_ = nullptr;
  // The descriptors holding each private folder's lock, by path.
  std::map<std::string, int> lockedFolders_;
};

}  // namespace parvo
