// Form1 as the Qt view draws it, in Qt's offscreen platform: the picture is kept in the build
// folder as form1.png, and pixels that only the right layout produces are checked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>

#include "settings/form1_layout.h"
#include "view/qt/qt_dialog_view.h"

namespace parvo {
namespace {

class Form1Rendering : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "dialog_tests";
    static char* argv[] = {name, nullptr};
    application = new QApplication(argc, argv);
    installFontSubstitutes();
  }
  static void TearDownTestSuite() { delete application; }

  static inline QApplication* application = nullptr;
  QtDialogView view{Form1Layout()};
};

TEST_F(Form1Rendering, BandOfBluesWithWhiteTextOnTop) {
  QWidget* window = view.window();
  const QImage image = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  image.save(QStringLiteral(PARVO_DIALOG_ARTEFACTS "/form1.png"));
  ASSERT_EQ(image.size() / image.devicePixelRatio(), QSize(3705 / 15, 3495 / 15));

  // Each rectangle lies over the one before by a pixel, and the last reaches the right edge.
  const struct {
    int x;
    int blue;
  } band[] = {{0, 64}, {15, 64}, {16, 128}, {31, 128}, {32, 192}, {47, 192}, {48, 255}, {246, 255}};
  for (const auto& b : band) {
    EXPECT_EQ(image.pixelColor(b.x, 150), QColor(0, 0, b.blue)) << "x " << b.x;
  }
  EXPECT_EQ(image.pixelColor(246, 232), QColor(0, 0, 255));

  for (const char* name :
       {"Label1", "Label2(0)", "Label2(1)", "Option1(0)", "Option1(1)", "Option1(2)"}) {
    const QWidget* control = window->findChild<QWidget*>(QString::fromLatin1(name));
    ASSERT_NE(control, nullptr) << name;
    const QRect area = control->geometry().intersected(image.rect());
    int white = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        const QColor c = image.pixelColor(x, y);
        white += c.red() > 200 && c.green() > 200 && c.blue() > 200;
      }
    }
    EXPECT_GT(white, 20) << name;
  }
  // Option buttons paint their own blue; the second is selected.
  for (int index = 0; index < 3; ++index) {
    auto* option = window->findChild<QRadioButton*>(QStringLiteral("Option1(%1)").arg(index));
    ASSERT_NE(option, nullptr);
    const QImage alone = option->grab().toImage();
    EXPECT_EQ(alone.pixelColor(alone.width() - 1, 0), QColor(0, 0, 255)) << index;
    EXPECT_EQ(option->isChecked(), index == 1);
  }
}

TEST_F(Form1Rendering, VersionLabelUsesAJapaneseGothicAndOkHasTheFocus) {
  if (!QFontDatabase::families().contains(QStringLiteral("IPAPGothic"))) {
    GTEST_SKIP() << "fonts-ipafont-gothic is not installed";
  }
  const QFontInfo font(view.window()->findChild<QLabel*>(QStringLiteral("Label1"))->font());
  EXPECT_EQ(font.family(), QStringLiteral("IPAPGothic"));
  EXPECT_TRUE(font.italic());
  EXPECT_EQ(font.pointSize(), 18);
  view.show();
  ASSERT_NE(view.window()->focusWidget(), nullptr);
  EXPECT_EQ(view.window()->focusWidget()->objectName(), QStringLiteral("Command1"));
}

}  // namespace
}  // namespace parvo
