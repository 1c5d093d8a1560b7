// The window an archiver library asks for an archive's password in, styled as its progress window.
#include "view/qt/qt_password_window.h"

#include <string.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <memory>

#include "view/qt/qt_application.h"

namespace parvo {
namespace {

constexpr int kWidth = 440;
constexpr int kHeight = 150;
constexpr int kStripWidth = 17;  // the dialog's shaded strips, 255 twips each
constexpr int kTextLeft = 4 * kStripWidth + 12;
constexpr int kTextWidth = kWidth - kTextLeft - 16;

void fill(QWidget* widget, QColor colour) {
  QPalette palette = widget->palette();
  palette.setColor(widget->backgroundRole(), colour);
  palette.setColor(QPalette::WindowText, Qt::white);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

class Window final : public QWidget {
 public:
  Window(const QString& archive, bool again) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setObjectName(QStringLiteral("ParvoPassword"));
    setWindowTitle(QStringLiteral("PARVO - パスワード - ") + archive);
    setFixedSize(kWidth, kHeight);
    fill(this, QColor(0, 0, 255));
    const QColor strips[] = {QColor(0, 0, 64), QColor(0, 0, 128), QColor(0, 0, 192)};
    for (int i = 0; i < 3; ++i) {
      auto* strip = new QWidget(this);
      strip->setGeometry(i * kStripWidth, 0, kStripWidth, kHeight);
      fill(strip, strips[i]);
    }
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSize(10);
    auto* name = label(font, 14);
    name->setText(name->fontMetrics().elidedText(archive, Qt::ElideMiddle, kTextWidth));
    label(font, 40)->setText(again
                                 ? QStringLiteral("パスワードが違います。もう一度入力してください")
                                 : QStringLiteral("パスワードを入力してください"));
    entry_ = new QLineEdit(this);
    entry_->setObjectName(QStringLiteral("Password"));
    entry_->setEchoMode(QLineEdit::Password);
    entry_->setGeometry(kTextLeft, 68, kTextWidth, 24);
    auto* ok = button(QStringLiteral("OK"), QStringLiteral("OK"), kWidth - 16 - 100 - 8 - 100);
    auto* cancel =
        button(QStringLiteral("キャンセル"), QStringLiteral("Cancel"), kWidth - 16 - 100);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, [this] { answer = 1; });
    connect(entry_, &QLineEdit::returnPressed, [this] { answer = 1; });
    connect(cancel, &QPushButton::clicked, [this] { answer = 0; });
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      move(screen->availableGeometry().center() - rect().center());
    }
    show();
    raise();
    activateWindow();
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
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) answer = 0;
    QWidget::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    answer = 0;
    event->ignore();
  }

 private:
  QLabel* label(const QFont& font, int top) {
    auto* result = new QLabel(this);
    result->setTextFormat(Qt::PlainText);
    result->setFont(font);
    result->setGeometry(kTextLeft, top, kTextWidth, 20);
    return result;
  }
  QPushButton* button(const QString& caption, const QString& name, int left) {
    auto* result = new QPushButton(caption, this);
    result->setObjectName(name);
    result->setGeometry(left, 106, 100, 28);
    return result;
  }

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
