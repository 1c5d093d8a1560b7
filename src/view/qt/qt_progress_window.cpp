// The window an archiver library shows while a long call runs, in the settings dialog's colours.
#include "view/qt/qt_progress_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <memory>

#include "common/progress_window.h"
#include "view/qt/qt_application.h"

namespace parvo {
namespace {

constexpr int kWidth = 440;
constexpr int kHeight = 150;
constexpr int kStripWidth = 17;  // the dialog's shaded strips, 255 twips each
constexpr int kTextLeft = 4 * kStripWidth + 12;
constexpr int kTextWidth = kWidth - kTextLeft - 16;

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void fill(QWidget* widget, QColor colour) {
  QPalette palette = widget->palette();
  palette.setColor(widget->backgroundRole(), colour);
  palette.setColor(QPalette::WindowText, Qt::white);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

class Window final : public QWidget {
 public:
  Window() {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setObjectName(QStringLiteral("ParvoProgress"));
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
    archive_ = label(font, 14);
    member_ = label(font, 40);
    bar_ = new QProgressBar(this);
    bar_->setGeometry(kTextLeft, 70, kTextWidth, 20);
    bar_->setRange(0, 1000);
    bar_->setTextVisible(false);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("Cancel"));
    cancel->setGeometry(kWidth - 16 - 100, 106, 100, 28);
    connect(cancel, &QPushButton::clicked, [this] { cancelled = true; });
    cancel->setFocus();
  }

  void present(const archivers::ProgressSnapshot& snapshot) {
    if (caption_.isEmpty()) {
      // The name alone: a cabinet on its way to a self-extracting program is made in a private
      // folder the user never chose.
      const QString archive = QFileInfo(fromUtf8(snapshot.archive)).fileName();
      caption_ = QStringLiteral("PARVO - ") + archive;
      setWindowTitle(caption_);
      archive_->setText(archive_->fontMetrics().elidedText(archive, Qt::ElideMiddle, kTextWidth));
      if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
      }
      QWidget::show();
      raise();
      activateWindow();
    }
    const QString member = fromUtf8(snapshot.member);
    if (member != shownMember_) {
      shownMember_ = member;
      member_->setText(member_->fontMetrics().elidedText(member, Qt::ElideMiddle, kTextWidth));
    }
    if (snapshot.total == 0) {
      bar_->setRange(0, 0);
    } else {
      bar_->setRange(0, 1000);
      bar_->setValue(static_cast<int>(snapshot.done * 1000 / snapshot.total));
    }
  }

  bool cancelled = false;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) cancelled = true;
    QWidget::keyPressEvent(event);
  }
  // The window stays until the call has stopped; the library closes it then.
  void closeEvent(QCloseEvent* event) override {
    cancelled = true;
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

  QString caption_;
  QString shownMember_;
  QLabel* archive_ = nullptr;
  QLabel* member_ = nullptr;
  QProgressBar* bar_ = nullptr;
};

class QtProgressWindow final : public archivers::ProgressWindow {
 public:
  // ownsApplication: the application was started for this window, the program showing none.
  explicit QtProgressWindow(bool ownsApplication)
      : ownsApplication_(ownsApplication), window_(std::make_unique<Window>()) {}
  ~QtProgressWindow() override {
    if (displayLost()) {
      abandon(window_.release());
      return;
    }
    window_->hide();
    QApplication::processEvents();
    window_.reset();
    if (ownsApplication_) stopQtApplication();
  }

  // A lost display is not a stop: the call goes on without its window.
  bool update(const archivers::ProgressSnapshot& snapshot) override {
    if (displayLost()) return false;
    window_->present(snapshot);
    return serviceEvents() && window_->cancelled;
  }

 private:
  const bool ownsApplication_;
  std::unique_ptr<Window> window_;
};

}  // namespace

archivers::ProgressWindow* openQtProgressWindow() {
  const bool ownsApplication = !qtApplicationRunning();
  if (!startQtApplication()) return nullptr;
  return new QtProgressWindow(ownsApplication);
}

}  // namespace parvo
