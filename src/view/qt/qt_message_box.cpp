#include "view/qt/qt_message_box.h"

#include <QMessageBox>

namespace parvo {

void showQtMessageBox(const std::wstring& text, const std::wstring& caption) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdWString(caption),
                  QString::fromStdWString(text), QMessageBox::Ok);
  // An archiver's explanation quotes names, which could look like markup.
  box.setTextFormat(Qt::PlainText);
  // Lets the user copy an error's text, as Ctrl+C does in a Windows message box.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  box.exec();
}

}  // namespace parvo
