// The loadable module: Parvo's windows with Qt Widgets, on X11 or Wayland.
#include "platform/posix/gui_module.h"
#include "view/qt/qt_application.h"
#include "view/qt/qt_dialog_view.h"
#include "view/qt/qt_message_box.h"
#include "view/qt/qt_password_window.h"
#include "view/qt/qt_progress_window.h"

namespace parvo {
namespace {

class QtGuiModule final : public GuiModule {
 public:
  bool start() override { return startQtApplication(); }

  bool showMessage(const std::wstring& text, const std::wstring& caption) override {
    return !displayLost() && showQtMessageBox(text, caption);
  }

  std::unique_ptr<DialogView> createDialogView(const FormLayout& layout) override {
    if (displayLost()) return nullptr;
    return std::make_unique<QtDialogView>(layout);
  }

  void stop() override { stopQtApplication(); }
};

}  // namespace
}  // namespace parvo

extern "C" __attribute__((visibility("default"))) parvo::GuiModule* parvoGuiModule() {
  static parvo::QtGuiModule module;
  return &module;
}

extern "C" __attribute__((visibility("default"))) archivers::ProgressWindow*
parvoOpenProgressWindow() {
  return parvo::openQtProgressWindow();
}

extern "C" __attribute__((visibility("default"))) int parvoAskPassword(const char* archiveName,
                                                                       int again, char* buffer,
                                                                       std::size_t size,
                                                                       int (*stopRequested)(void*),
                                                                       void* context) {
  return parvo::askQtPassword(archiveName, again != 0, buffer, size, stopRequested, context);
}

extern "C" __attribute__((visibility("default"))) void parvoEndPasswordPrompts() {
  parvo::endQtPasswordPrompts();
}
