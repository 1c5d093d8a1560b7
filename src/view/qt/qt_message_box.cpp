#include "view/qt/qt_message_box.h"

#include <QMessageBox>
#include <memory>

#include "view/qt/qt_application.h"

namespace parvo {

bool showQtMessageBox(const std::wstring& text, const std::wstring& caption) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QString::fromStdWString(caption),
                                           QString::fromStdWString(text), QMessageBox::Ok);
  // An archiver's explanation quotes names, which could look like markup.
  box->setTextFormat(Qt::PlainText);
  // Lets the user copy an error's text, as Ctrl+C does in a Windows message box.
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  box->setWindowModality(Qt::ApplicationModal);
  box->show();
  if (!serviceEventsUntil([&] { return !box->isVisible(); })) {
    abandon(box.release());
    return false;
  }
  return true;
}

}  // namespace parvo
