#pragma once

#include <map>

#include "platform/platform.h"
#include "platform/win32/private_folder.h"

namespace parvo {

class Win32Platform : public Platform {
 public:
  Win32Platform();

  std::wstring argumentText() override;
  PathSyntax pathSyntax() const override { return {L'\\', 2}; }

  std::optional<std::wstring> findEntryName(const std::wstring& path) override;
  std::uint32_t fileAttributes(const std::wstring& path) override;
  void changeDirectory(const std::wstring& path) override;
  void deleteFile(const std::wstring& path) override;
  std::wstring createPrivateFolder() override;
  void removeFolder(const std::wstring& path) noexcept override;
  std::optional<std::wstring> desktopFolder() override;

  std::optional<std::wstring> readSetting(const SettingKey& key) override;
  void writeSetting(const SettingKey& key, const std::wstring& value) override;

  void showMessage(const std::wstring& text, const std::wstring& caption) override;
  void pumpMessages() override;
  std::unique_ptr<DialogView> createDialogView(const FormLayout& layout) override;

  std::wstring libraryFileName(const std::wstring& windowsName) const override {
    return windowsName;
  }
  std::unique_ptr<LoadedLibrary> loadLibrary(const std::wstring& fileName) override;

  std::optional<std::string> toArchiverText(const std::wstring& text) const override;
  std::wstring fromArchiverText(const std::string& text) const override;

 private:
  std::map<std::wstring, FolderHold> privateFolderHolds_;
};

}  // namespace parvo
