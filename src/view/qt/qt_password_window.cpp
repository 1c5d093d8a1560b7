// The window an archiver library asks for an archive's password in, styled as its progress window.
#include "view/qt/qt_password_window.h"

#include <string.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "view/qt/qt_application.h"
#include "view/qt/qt_library_window.h"

namespace parvo {
namespace {

class Window final : public LibraryWindow {
 public:
  Window(const QString& archive, bool again) : LibraryWindow(QStringLiteral("ParvoPassword")) {
    setWindowTitle(QStringLiteral("PARVO - パスワード - ") + archive);
    auto* name = label(14);
    name->setText(name->fontMetrics().elidedText(archive, Qt::ElideMiddle, kTextWidth));
    label(40)->setText(again ? QStringLiteral("パスワードが違います。もう一度入力してください")
                             : QStringLiteral("パスワードを入力してください"));
    entry_ = new QLineEdit(this);
    entry_->setObjectName(QStringLiteral("Password"));
    entry_->setEchoMode(QLineEdit::Password);
    entry_->setGeometry(kTextLeft, 68, kTextWidth, 24);
    auto* ok =
        button(QStringLiteral("OK"), QStringLiteral("OK"), kWidth - 16 - 2 * kButtonWidth - 8);
    auto* cancelButton =
        button(QStringLiteral("キャンセル"), QStringLiteral("Cancel"), kWidth - 16 - kButtonWidth);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, [this] { answer = 1; });
    connect(entry_, &QLineEdit::returnPressed, [this] { answer = 1; });
    connect(cancelButton, &QPushButton::clicked, [this] { answer = 0; });
    showCentred();
    entry_->setFocus();
  }

  // Copies the password into buffer and clears every copy this side holds: the entry's text is
  // taken (the entry keeps none), so that the one buffer it was in can be cleared.
  void take(char* buffer, std::size_t size) {
    QString text = entry_->text();
    entry_->clear();
    QByteArray bytes = text.toUtf8();
    const std::size_t count =
        std::min<std::size_t>(static_cast<std::size_t>(bytes.size()), size - 1);
    memcpy(buffer, bytes.constData(), count);
    buffer[count] = '\0';
    explicit_bzero(bytes.data(), static_cast<std::size_t>(bytes.size()));
    explicit_bzero(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
  }

  int answer = -1;  // none yet

 protected:
  void cancel() override { answer = 0; }

 private:
  QLineEdit* entry_ = nullptr;
};

// The application was started for a prompt, and lives until the call's prompts end.
bool startedForPrompts = false;

}  // namespace

int askQtPassword(const char* archiveName, bool again, char* buffer, std::size_t size,
                  int (*stopRequested)(void*), void* context) {
  if (size == 0) return 0;
  const bool starting = !qtApplicationRunning();
  if (displayLost() || !startQtApplication()) return -1;
  if (starting) startedForPrompts = true;
  auto window = std::make_unique<Window>(QString::fromUtf8(archiveName), again);
  const bool serviced =
      serviceEventsUntil([&] { return window->answer >= 0 || stopRequested(context) != 0; });
  if (!serviced) {
    abandon(window.release());
    return -1;
  }
  const int answer = window->answer == 1 ? 1 : 0;
  if (answer == 1) window->take(buffer, size);
  window->hide();
  QApplication::processEvents();
  window.reset();
  return answer;
}

void endQtPasswordPrompts() {
  if (!startedForPrompts || displayLost()) return;
  startedForPrompts = false;
  stopQtApplication();
}

}  // namespace parvo
