#pragma once

#include <algorithm>
#include <cwctype>
#include <map>

#include "platform/platform.h"
#include "platform/posix/utf8_text.h"
#include "runtime/run_time_error.h"
#include "settings/dialog_view.h"
#include "settings/form1_layout.h"

namespace parvo {

// The settings window in memory: the window as it stands and its option as it stood when shown;
// when run it plays the user's part.
struct FakeDialog {
  std::optional<int> userSelects;  // the option the user picks before the ending
  bool pressOk = true;             // the ending: OK, else the close box
  std::optional<int> selected, selectedWhenShown;
  std::optional<float> left, top;
  bool closed = false;
};

class FakeDialogView : public DialogView {
 public:
  explicit FakeDialogView(FakeDialog& dialog) : d_(dialog) {}
  TwipSize screenSize() override { return {3000, 2000}; }  // smaller than the window
  TwipSize windowSize() override { return {3795, 3915}; }
  void setLeft(float twips) override { d_.left = twips; }
  void setTop(float twips) override { d_.top = twips; }
  void selectOption(int index) override { d_.selected = index; }
  bool optionSelected(int index) override { return d_.selected == index; }
  void show() override { d_.selectedWhenShown = d_.selected; }
  void run(DialogEvents& events) override {
    if (d_.userSelects) d_.selected = *d_.userSelects;
    if (d_.pressOk) events.commandClicked();
  }
  void close() override { d_.closed = true; }

 private:
  FakeDialog& d_;
};

// A Windows machine in memory, for testing the core's Windows behaviour on any host: drive C:,
// backslash paths, 8.3 short aliases, case-insensitive lookup that reports the stored long name.
// Message boxes, pumps, settings, library loads and the current directory are recorded.
class SimulatedWindows : public Platform {
 public:
  using Message = std::pair<std::wstring, std::wstring>;  // text and caption

  void addFolder(const std::wstring& path) { walk(path, nullptr, true)->isFolder = true; }
  void addFile(const std::wstring& path) { walk(path, nullptr, true)->isFolder = false; }
  // Gives an entry an 8.3 alias, as Windows does for a long name that is not 8.3 already.
  void setShortName(const std::wstring& path, std::wstring name) { walk(path)->shortName = name; }
  void registerLibrary(const std::wstring& name, std::map<std::string, void*> entryPoints) {
    libraries_[upper(name)] = std::move(entryPoints);
  }

  std::wstring arguments;
  std::optional<std::wstring> desktop = L"C:\\Users\\user\\Desktop";
  std::vector<Message> messages;
  int pumps = 0;
  FakeDialog dialog;
  std::vector<std::wstring> loadedLibraries;
  std::wstring currentDirectory = L"C:\\";
  bool failSettingWrites = false;

  std::wstring argumentText() override { return arguments; }
  PathSyntax pathSyntax() const override { return {L'\\', 2}; }
  std::optional<std::wstring> findEntryName(const std::wstring& path) override {
    // The directory search takes a pattern: a path ending in a backslash names no entry.
    const Node* node = path.ends_with(L'\\') || componentsOf(path).empty() ? nullptr : walk(path);
    return node ? std::optional(node->longName) : std::nullopt;
  }
  std::uint32_t fileAttributes(const std::wstring& path) override {
    bool missingLeaf = false;
    const Node* node = walk(path, &missingLeaf);
    if (node == nullptr) raiseError(missingLeaf ? kFileNotFound : kPathNotFound);
    return node->isFolder ? kDirectoryAttribute : 0;
  }
  void changeDirectory(const std::wstring& path) override {
    const Node* node = walk(path);
    if (node == nullptr || !node->isFolder) raiseError(kPathNotFound);
    currentDirectory = path;
  }
  void deleteFile(const std::wstring& path) override {
    const Node* node = walk(path);
    if (node == nullptr || node->isFolder) raiseError(kFileNotFound);
    removeFolder(path);
  }
  std::wstring createPrivateFolder() override {
    const std::wstring path =
        L"C:\\Users\\user\\AppData\\Local\\Temp\\parvo-" + std::to_wstring(++privateFolders_);
    addFolder(path);
    return path;
  }
  void removeFolder(const std::wstring& path) noexcept override {
    const std::size_t slash = path.rfind(L'\\');
    if (Node* parent = walk(path.substr(0, slash))) {
      std::erase_if(parent->children,
                    [&](const Node& n) { return n.longName == path.substr(slash + 1); });
    }
  }
  std::optional<std::wstring> desktopFolder() override { return desktop; }
  std::optional<std::wstring> readSetting(const SettingKey& key) override {
    const auto found = settings_.find(settingName(key));
    return found == settings_.end() ? std::nullopt : std::optional(found->second);
  }
  void writeSetting(const SettingKey& key, const std::wstring& value) override {
    if (failSettingWrites) raiseError(kFileNotFound);
    settings_[settingName(key)] = value;
  }
  void showMessage(const std::wstring& text, const std::wstring& caption) override {
    messages.push_back({text, caption});
  }
  void pumpMessages() override { ++pumps; }
  std::unique_ptr<DialogView> createDialogView(const FormLayout& layout) override {
    for (const ControlLayout& control : layout.controls) {
      if (control.kind == ControlKind::kOptionButton && control.selected) {
        dialog.selected = control.index;
      }
    }
    return std::make_unique<FakeDialogView>(dialog);
  }
  std::wstring libraryFileName(const std::wstring& name) const override { return name; }
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
    bool isFolder = true;
    std::vector<Node> children;
  };

  static std::wstring upper(std::wstring text) {
    for (wchar_t& character : text) character = static_cast<wchar_t>(std::towupper(character));
    return text;
  }
  static std::wstring settingName(const SettingKey& key) {
    return upper(key.application + L"\\" + key.section + L"\\" + key.key);
  }
  // The components after "C:\".
  static std::vector<std::wstring> componentsOf(const std::wstring& path) {
    std::vector<std::wstring> components;
    for (std::size_t start = 3, end; start < path.size(); start = end + 1) {
      end = std::min(path.find(L'\\', start), path.size());
      if (end > start) components.push_back(path.substr(start, end - start));
    }
    return components;
  }
  // The entry at path, or nothing (made first with create); missingLeaf tells whether only the
  // last component is missing.
  Node* walk(const std::wstring& path, bool* missingLeaf = nullptr, bool create = false);

  Node drive_{L"C:", L"C:", true, {}};
  int privateFolders_ = 0;
  std::map<std::wstring, std::wstring> settings_;
  std::map<std::wstring, std::map<std::string, void*>> libraries_;
};

}  // namespace parvo
