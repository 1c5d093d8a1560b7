// The window an archiver library shows while a long call runs, in the settings dialog's colours.
#include "view/qt/qt_progress_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <memory>

#include "common/progress_window.h"
#include "view/qt/qt_application.h"
#include "view/qt/qt_library_window.h"

namespace parvo {
namespace {

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class Window final : public LibraryWindow {
 public:
  Window() : LibraryWindow(QStringLiteral("ParvoProgress")) {
    archive_ = label(14);
    member_ = label(40);
    bar_ = new QProgressBar(this);
    bar_->setGeometry(kTextLeft, 70, kTextWidth, 20);
    bar_->setRange(0, 1000);
    bar_->setTextVisible(false);
    auto* cancelButton =
        button(QStringLiteral("キャンセル"), QStringLiteral("Cancel"), kWidth - 16 - kButtonWidth);
    connect(cancelButton, &QPushButton::clicked, [this] { cancelled = true; });
    cancelButton->setFocus();
  }

  void present(const archivers::ProgressSnapshot& snapshot) {
    if (caption_.isEmpty()) {
      // The name alone: a cabinet on its way to a self-extracting program is made in a private
      // folder the user never chose.
      const QString archive = QFileInfo(fromUtf8(snapshot.archive)).fileName();
      caption_ = QStringLiteral("PARVO - ") + archive;
      setWindowTitle(caption_);
      archive_->setText(archive_->fontMetrics().elidedText(archive, Qt::ElideMiddle, kTextWidth));
      showCentred();
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
  // The window stays until the call has stopped; the library closes it then.
  void cancel() override { cancelled = true; }

 private:
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
