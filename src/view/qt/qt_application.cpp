// The one application object of the module and the display it is on.
#include "view/qt/qt_application.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "view/qt/qt_dialog_view.h"

// Last: Xlib's macros (None, Bool, CursorShape) would rename Qt's declarations.
#include <X11/Xlib.h>

namespace parvo {
namespace {

// One for the program's windows and the archiver libraries' progress windows alike.
std::unique_ptr<QApplication> application;

// Set once the display is gone, or refused Qt after it answered us: no window is made again, and
// nothing of Qt is torn down, since its teardown talks to the server. What was abandoned stays
// reachable from here, so that a leak check does not count it.
bool displayGone = false;
std::vector<QObject*>* abandoned = new std::vector<QObject*>;

void abandonApplication() {
  if (application) abandoned->push_back(application.release());
}

// Qt's xcb plugin ends the process with exit(1) when its event processing finds the connection
// broken. The module looks first (displayLost), but the server can die in between: then at least
// the application is not destroyed from the exit handlers while its events are being processed,
// which crashes.
void abandonOnExitIfDisplayLost() {
  if (displayLost()) abandonApplication();
}

// Xlib ends the process when one of Qt's calls through it finds the connection broken. It is told
// to let the call fail instead: the next look at the connection (displayLost) then finds it lost,
// and the job goes on without its window.
int ignoreBrokenConnection(Display*) {
  return 0;
}
void continueAfterBrokenConnection(Display*, void*) {}

void keepRunningWhenXlibLosesTheDisplay() {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->display() == nullptr) return;
  XSetIOErrorHandler(ignoreBrokenConnection);
  XSetIOErrorExitHandler(x11->display(), continueAfterBrokenConnection, nullptr);
}

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

// The Qt platform to open, or null when there is no display. Qt ends the process when no platform
// of its list starts, so the display is tried here first, and the list ends with the minimal
// platform (shipped with Qt's GUI library), taken when the server refuses Qt's own connection.
const char* displayPlatform() {
  if (std::getenv("DISPLAY") != nullptr && hasPlatformPlugin("libqxcb.so") && xServerAnswers()) {
    return "xcb;minimal";
  }
  if (std::getenv("WAYLAND_DISPLAY") != nullptr && hasPlatformPlugin("libqwayland-generic.so")) {
    return "wayland;minimal";
  }
  return nullptr;
}

}  // namespace

bool qtApplicationRunning() {
  return application != nullptr;
}

void stopQtApplication() {
  if (displayLost()) return;
  application.reset();
}

bool displayLost() {
  if (displayGone) return true;
  const auto* x11 =
      qGuiApp == nullptr ? nullptr : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr ||
      xcb_connection_has_error(x11->connection()) == 0) {
    return false;
  }
  displayGone = true;
  abandonApplication();
  return true;
}

void abandon(QObject* object) {
  abandoned->push_back(object);
}

bool serviceEvents() {
  // Posted events first, painting among them, outside the event dispatcher: a write that finds
  // the server gone is then seen here, not by the dispatcher, which would end the process.
  QCoreApplication::sendPostedEvents();
  if (displayLost()) return false;
  QApplication::processEvents(QEventLoop::AllEvents);
  return true;
}

bool serviceEventsUntil(const std::function<bool()>& done) {
  while (!done()) {
    if (displayLost() || !serviceEvents()) return false;
    if (done()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool startQtApplication() {
  if (application) return true;
  if (displayGone) return false;
  const char* platform = displayPlatform();
  if (platform == nullptr) return false;
  static char program[] = "parvo";
  static char option[] = "-platform";
  static char name[32] = {};
  std::snprintf(name, sizeof name, "%s", platform);
  static char* argv[] = {program, option, name, nullptr};
  static int argc = 3;
  application = std::make_unique<QApplication>(argc, argv);
  if (QGuiApplication::platformName() == QLatin1String("minimal")) {
    // The server answered our check and then refused Qt.
    application.reset();
    displayGone = true;
    return false;
  }
  keepRunningWhenXlibLosesTheDisplay();
  static const bool guarded = std::atexit(abandonOnExitIfDisplayLost) == 0;
  (void)guarded;
  // The dialog's end is the program's end; a message box may still follow it.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/parvo/parvo.png")));
  installFontSubstitutes();
  return true;
}
}  // namespace parvo
