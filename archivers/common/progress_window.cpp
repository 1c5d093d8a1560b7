#include "common/progress_window.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace archivers {
namespace {

void* loadWindowModule() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&windowPresenter), &self) != 0 && self.dli_fname != nullptr) {
    std::string path = self.dli_fname;
    path.erase(path.find_last_of('/') + 1);
    if (void* module = dlopen((path + kWindowModuleFileName).c_str(), RTLD_NOW | RTLD_LOCAL)) {
      return module;
    }
  }
  return dlopen(kWindowModuleFileName, RTLD_NOW | RTLD_LOCAL);
}

std::unique_ptr<ProgressWindow> openWindow() {
  if (!hasDisplay()) return nullptr;
  void* module = windowModule();
  if (module == nullptr) return nullptr;
  using Open = ProgressWindow* (*)();
  auto open = reinterpret_cast<Open>(dlsym(module, kProgressWindowEntryPoint));
  return std::unique_ptr<ProgressWindow>(open == nullptr ? nullptr : open());
}

class WindowPresenter final : public ProgressPresenter {
 public:
  std::chrono::milliseconds delay() const override { return std::chrono::milliseconds(500); }

  bool update(const ProgressSnapshot& snapshot) override {
    if (!opened_) {
      opened_ = true;
      window_ = openWindow();
    }
    return window_ != nullptr && window_->update(snapshot);
  }

 private:
  bool opened_ = false;
  std::unique_ptr<ProgressWindow> window_;
};

}  // namespace

bool hasDisplay() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

void* windowModule() {
  static void* const module = loadWindowModule();
  return module;
}

void* dlsymOf(void* module, const char* name) {
  return module == nullptr ? nullptr : dlsym(module, name);
}

std::unique_ptr<ProgressPresenter> windowPresenter() {
  return std::make_unique<WindowPresenter>();
}

}  // namespace archivers
