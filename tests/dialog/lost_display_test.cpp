// The X server gone while a progress window is up, found first by one of the calls Qt makes
// through Xlib: the process goes on without windows.
#include <QtGui/qguiapplication_platform.h>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#include "support/process.h"
#include "support/temporary_folder.h"
#include "view/qt/qt_application.h"
#include "view/qt/qt_progress_window.h"

// Last: Xlib's macros would rename Qt's declarations.
#include <X11/Xlib.h>

namespace parvo {
namespace {

TEST(LostDisplay, AnXlibCallThatFindsItGoneNeitherEndsTheProcessNorStopsTheCall) {
  const TemporaryFolder folder;
  VirtualDisplay server(folder.path() / "xvfb.log");
  ASSERT_FALSE(server.name().empty());
  setenv("DISPLAY", server.name().c_str(), 1);
  std::unique_ptr<archivers::ProgressWindow> window(openQtProgressWindow());
  ASSERT_NE(window, nullptr);
  const archivers::ProgressSnapshot snapshot{.archive = "big.cab", .member = "a.txt"};
  EXPECT_FALSE(window->update(snapshot));
  ASSERT_FALSE(displayLost());

  server.stop();
  XSync(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display(), False);
  EXPECT_TRUE(displayLost());
  EXPECT_FALSE(window->update(snapshot));
  window.reset();
  EXPECT_EQ(openQtProgressWindow(), nullptr);
}

}  // namespace
}  // namespace parvo
