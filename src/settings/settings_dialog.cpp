#include "settings/settings_dialog.h"

#include <array>
#include <exception>
#include <memory>

#include "settings/dialog_view.h"
#include "settings/form1_layout.h"
#include "settings/format_preference.h"

namespace parvo {
namespace {

// The code of each Option1 index.
const std::array<const FormatCode*, 3> kOptionCodes{&kCabinetCode, &kSelfExtractingCode, &kLhaCode};

float centred(std::int32_t screen, std::int32_t window) {
  return (static_cast<float>(screen) - static_cast<float>(window)) / 2.0f;
}

class Form1 : private DialogEvents {
 public:
  Form1(Platform& platform, std::unique_ptr<DialogView> view)
      : platform_(platform), view_(std::move(view)) {}

  void run() {
    load();
    view_->show();
    view_->run(*this);
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void load() {
    const FormatCode code = ReadFormatPreference(platform_);
    for (std::size_t index = 0; index < kOptionCodes.size(); ++index) {
      if (code == *kOptionCodes[index]) {
        view_->selectOption(static_cast<int>(index));
        break;
      }
    }
    // Each edge from the sizes as they are just before it moves.
    TwipSize screen = view_->screenSize();
    TwipSize window = view_->windowSize();
    view_->setLeft(centred(screen.width, window.width));
    screen = view_->screenSize();
    window = view_->windowSize();
    view_->setTop(centred(screen.height, window.height));
  }

  void commandClicked() override {
    try {
      FormatCode code = kDefaultFormatCode;
      for (std::size_t index = 0; index < kOptionCodes.size(); ++index) {
        if (view_->optionSelected(static_cast<int>(index))) {
          code = *kOptionCodes[index];
          break;
        }
      }
      SaveFormatPreference(platform_, code);
    } catch (...) {
      // The view's event loop is no place for an exception: it leaves once the window is gone.
      failure_ = std::current_exception();
    }
    view_->close();
  }

  Platform& platform_;
  std::unique_ptr<DialogView> view_;
  std::exception_ptr failure_;
};

}  // namespace

void ShowForm1(Platform& platform) {
  Form1(platform, platform.createDialogView(Form1Layout())).run();
}

}  // namespace parvo
