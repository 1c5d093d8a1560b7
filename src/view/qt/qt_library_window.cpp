#include "view/qt/qt_library_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace parvo {
namespace {

void fill(QWidget* widget, QColor colour) {
  QPalette palette = widget->palette();
  palette.setColor(widget->backgroundRole(), colour);
  palette.setColor(QPalette::WindowText, Qt::white);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

}  // namespace

LibraryWindow::LibraryWindow(const QString& objectName) : font_(QStringLiteral("ＭＳ Ｐゴシック")) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setObjectName(objectName);
  setFixedSize(kWidth, kHeight);
  fill(this, QColor(0, 0, 255));
  const QColor strips[] = {QColor(0, 0, 64), QColor(0, 0, 128), QColor(0, 0, 192)};
  for (int i = 0; i < 3; ++i) {
    auto* strip = new QWidget(this);
    strip->setGeometry(i * kStripWidth, 0, kStripWidth, kHeight);
    fill(strip, strips[i]);
  }
  font_.setPointSize(10);
}

QLabel* LibraryWindow::label(int top) {
  auto* result = new QLabel(this);
  result->setTextFormat(Qt::PlainText);
  result->setFont(font_);
  result->setGeometry(kTextLeft, top, kTextWidth, 20);
  return result;
}

QPushButton* LibraryWindow::button(const QString& caption, const QString& objectName, int left) {
  auto* result = new QPushButton(caption, this);
  result->setObjectName(objectName);
  result->setGeometry(left, 106, kButtonWidth, 28);
  return result;
}

void LibraryWindow::showCentred() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  activateWindow();
}

void LibraryWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) cancel();
  QWidget::keyPressEvent(event);
}

void LibraryWindow::closeEvent(QCloseEvent* event) {
  cancel();
  event->ignore();
}

}  // namespace parvo
