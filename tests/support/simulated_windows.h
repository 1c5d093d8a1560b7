#pragma once

#include <algorithm>
#include <map>

#include "platform/platform.h"
#include "platform/posix/utf8_text.h"
#include "support/fake_dialog_view.h"

namespace parvo {

// A Windows machine in memory, for testing the core's Windows behaviour on any host: drive
// letters, backslash paths, 8.3 short aliases, case-insensitive lookup that reports the stored
// long name, hidden and system entries. Message boxes, settings and library calls are recorded.
class SimulatedWindows : public Platform {
 public:
  static constexpr std::uint32_t kHidden = 0x02;
  static constexpr std::uint32_t kSystem = 0x04;
  static constexpr std::uint32_t kArchive = 0x20;

  struct Message {
    std::wstring text;
    std::wstring caption;
  };

  // Adds an entry, and any missing folders on the way, under drive C: or another drive.
  void addFolder(const std::wstring& path, std::uint32_t attributes = 0) {
    add(path).attributes = attributes | kDirectoryAttribute;
  }
  void addFile(const std::wstring& path, std::uint32_t attributes = kArchive) {
    add(path).attributes = attributes & ~kDirectoryAttribute;
  }

  // Gives an entry an 8.3 alias, as Windows does for a long name that is not 8.3 already.
  void setShortName(const std::wstring& path, std::wstring shortName);
  void setArgumentText(std::wstring text) { argumentText_ = std::move(text); }
  void setDesktop(std::optional<std::wstring> desktop) { desktop_ = std::move(desktop); }
  void registerLibrary(const std::wstring& name, std::map<std::string, void*> entryPoints);
  void failSettingWrites() { failSettingWrites_ = true; }
  void setSetting(const SettingKey& key, const std::wstring& value);

  const std::vector<Message>& messages() const { return messages_; }
  int pumpCount() const { return pumpCount_; }
  // The settings window that createDialogView makes: how it behaves and what was done to it.
  FakeDialog& dialog() { return dialog_; }
  const std::vector<std::wstring>& loadedLibraries() const { return loadedLibraries_; }
  const std::wstring& currentDirectory() const { return currentDirectory_; }

  std::wstring argumentText() override { return argumentText_; }
  PathSyntax pathSyntax() const override { return {L'\\', 2}; }
  std::optional<std::wstring> findEntryName(const std::wstring& path) override;
  std::uint32_t fileAttributes(const std::wstring& path) override;
  void changeDirectory(const std::wstring& path) override;
  void deleteFile(const std::wstring& path) override;
  std::wstring createPrivateFolder() override;
  void removeFolder(const std::wstring& path) noexcept override;
  std::optional<std::wstring> desktopFolder() override { return desktop_; }
  std::optional<std::wstring> readSetting(const SettingKey& key) override;
  void writeSetting(const SettingKey& key, const std::wstring& value) override;
  void showMessage(const std::wstring& text, const std::wstring& caption) override {
    messages_.push_back({text, caption});
  }
  void pumpMessages() override { ++pumpCount_; }
  std::unique_ptr<DialogView> createDialogView(const FormLayout& layout) override {
    return std::make_unique<FakeDialogView>(dialog_, layout);
  }
  std::wstring libraryFileName(const std::wstring& windowsName) const override {
    return windowsName;
  }
  std::unique_ptr<LoadedLibrary> loadLibrary(const std::wstring& fileName) override;
  // The simulation's ANSI code page is written as UTF-8 but, like a real one, lacks characters:
  // here every one from U+0100 on.
  std::optional<std::string> toArchiverText(const std::wstring& text) const override {
    if (std::any_of(text.begin(), text.end(), [](wchar_t c) { return c > 0xFF; })) return {};
    return toUtf8(text);
  }
  std::wstring fromArchiverText(const std::string& text) const override { return fromUtf8(text); }

 private:
  struct Node {
    std::wstring longName;
    std::wstring shortName;
    std::uint32_t attributes = kDirectoryAttribute;
    std::vector<Node> children;
  };

  // The entry at path, or nothing; missingLeaf tells whether only the last component is missing.
  Node* walk(const std::wstring& path, bool* missingLeaf = nullptr);
  Node& add(const std::wstring& path);

  std::map<wchar_t, Node> drives_{{L'C', Node{L"C:", L"C:", kDirectoryAttribute, {}}}};
  std::wstring argumentText_;
  std::optional<std::wstring> desktop_ = L"C:\\Users\\user\\Desktop";
  int privateFolders_ = 0;
  std::wstring currentDirectory_ = L"C:\\";
  std::map<std::wstring, std::wstring> settings_;
  std::map<std::wstring, std::map<std::string, void*>> libraries_;
  std::vector<std::wstring> loadedLibraries_;
  std::vector<Message> messages_;
  int pumpCount_ = 0;
  FakeDialog dialog_;
  bool failSettingWrites_ = false;
};

}  // namespace parvo
