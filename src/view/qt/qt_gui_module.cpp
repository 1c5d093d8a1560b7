// The loadable module: Parvo's windows with Qt Widgets, on X11 or Wayland.
#include <xcb/xcb.h>

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/gui_module.h"
#include "view/qt/qt_dialog_view.h"
#include "view/qt/qt_message_box.h"
#include "view/qt/qt_progress_window.h"

namespace parvo {
namespace {

// One for the program's windows and the archiver libraries' progress windows alike.
std::unique_ptr<QApplication> application;

bool hasPlatformPlugin(const char* fileName) {
  return QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                           QStringLiteral("/platforms/") + QLatin1String(fileName));
}

bool xServerAnswers() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answers;
}

// The Qt platform to open, or null when there is no display. Qt ends the process when its
// platform cannot start, so the display is tried here first.
const char* displayPlatform() {
  if (std::getenv("DISPLAY") != nullptr && hasPlatformPlugin("libqxcb.so") && xServerAnswers()) {
    return "xcb";
  }
  if (std::getenv("WAYLAND_DISPLAY") != nullptr && hasPlatformPlugin("libqwayland-generic.so")) {
    return "wayland";
  }
  return nullptr;
}

class QtGuiModule final : public GuiModule {
 public:
  bool start() override { return startQtApplication(); }

  void showMessage(const std::wstring& text, const std::wstring& caption) override {
    showQtMessageBox(text, caption);
  }

  std::unique_ptr<DialogView> createDialogView(const FormLayout& layout) override {
    return std::make_unique<QtDialogView>(layout);
  }

  void stop() override { stopQtApplication(); }
};

}  // namespace

bool qtApplicationRunning() {
  return application != nullptr;
}

void stopQtApplication() {
  application.reset();
}

bool startQtApplication() {
  if (application) return true;
  const char* platform = displayPlatform();
  if (platform == nullptr) return false;
  static char program[] = "parvo";
  static char option[] = "-platform";
  static char name[16] = {};
  std::snprintf(name, sizeof name, "%s", platform);
  static char* argv[] = {program, option, name, nullptr};
  static int argc = 3;
  application = std::make_unique<QApplication>(argc, argv);
  // The dialog's end is the program's end; a message box may still follow it.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/parvo/parvo.png")));
  installFontSubstitutes();
  return true;
}
}  // namespace parvo

extern "C" __attribute__((visibility("default"))) parvo::GuiModule* parvoGuiModule() {
  static parvo::QtGuiModule module;
  return &module;
}

extern "C" __attribute__((visibility("default"))) archivers::ProgressWindow*
parvoOpenProgressWindow() {
  return parvo::openQtProgressWindow();
}
