#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

namespace parvo {

// The frame of the windows an archiver library shows (its progress, its password prompt): a fixed
// size in the settings dialog's blue with its three shaded strips, lines of text beside them and
// buttons below. Escape and the close box cancel; the window stays until its owner closes it.
class LibraryWindow : public QWidget {
 public:
  static constexpr int kWidth = 440;
  static constexpr int kHeight = 150;
  static constexpr int kStripWidth = 17;  // the dialog's shaded strips, 255 twips each
  static constexpr int kTextLeft = 4 * kStripWidth + 12;
  static constexpr int kTextWidth = kWidth - kTextLeft - 16;
  static constexpr int kButtonWidth = 100;

  explicit LibraryWindow(const QString& objectName);

 protected:
  virtual void cancel() = 0;

  // A line of plain text at top.
  QLabel* label(int top);
  QPushButton* button(const QString& caption, const QString& objectName, int left);
  // Shows the window in the middle of the screen, in front.
  void showCentred();

  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QFont font_;
};

}  // namespace parvo
