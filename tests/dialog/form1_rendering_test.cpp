// Form1 as the Qt view draws it, in Qt's offscreen platform: the picture is kept in the build
// folder as form1.png, and pixels that only the right layout produces are checked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QRadioButton>

#include "settings/form1_layout.h"
#include "view/qt/qt_dialog_view.h"

namespace parvo {
namespace {

TEST(Form1Rendering, BandOfBluesUnderOptionsThatPaintTheirOwnAndOkHasTheFocus) {
  int argc = 0;
  QApplication application(argc, nullptr);
  installFontSubstitutes();
  QtDialogView view{Form1Layout()};
  QWidget* window = view.window();
  const QImage image = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  image.save(QStringLiteral(PARVO_DIALOG_ARTEFACTS "/form1.png"));
  ASSERT_EQ(image.size() / image.devicePixelRatio(), QSize(3705 / 15, 3495 / 15));

  // Four rectangles 16 pixels apart, each a pixel over the one before, left of the text; the last
  // reaches the right edge.
  for (int x = 0; x < 64; ++x)
    EXPECT_EQ(image.pixelColor(x, 150), QColor(0, 0, std::min(255, 64 * (1 + x / 16))))
        << "x " << x;
  for (const int y : {150, 232}) EXPECT_EQ(image.pixelColor(246, y), QColor(0, 0, 255));

  // Option buttons paint their own blue; the second is selected.
  for (int index = 0; index < 3; ++index) {
    auto* option = window->findChild<QRadioButton*>(QStringLiteral("Option1(%1)").arg(index));
    ASSERT_NE(option, nullptr);
    const QImage alone = option->grab().toImage();
    EXPECT_EQ(alone.pixelColor(alone.width() - 1, 0), QColor(0, 0, 255)) << index;
    EXPECT_EQ(option->isChecked(), index == 1);
  }
  view.show();
  ASSERT_NE(window->focusWidget(), nullptr);
  EXPECT_EQ(window->focusWidget()->objectName(), QStringLiteral("Command1"));
}

}  // namespace
}  // namespace parvo
