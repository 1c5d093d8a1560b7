#pragma once

#include <optional>

#include "settings/dialog_view.h"
#include "settings/form1_layout.h"

namespace parvo {

// The settings window in memory: it reports the sizes it is given, keeps what the window would
// show, and when run plays the user's part.
struct FakeDialog {
  enum class Ending { kPressOk, kCloseBox };

  TwipSize screen{14400, 10800};
  TwipSize window{3795, 3915};
  std::optional<int> userSelects;  // the option the user picks before the ending
  Ending ending = Ending::kPressOk;

  // As the window stood when shown: its selected option and its position.
  std::optional<int> selectedWhenShown;
  std::optional<float> leftWhenShown;
  std::optional<float> topWhenShown;
  bool closed = false;
};

class FakeDialogView : public DialogView {
 public:
  FakeDialogView(FakeDialog& dialog, const FormLayout& layout) : dialog_(dialog) {
    for (const ControlLayout& control : layout.controls) {
      if (control.kind == ControlKind::kOptionButton && control.selected) selected_ = control.index;
    }
  }

  TwipSize screenSize() override { return dialog_.screen; }
  TwipSize windowSize() override { return dialog_.window; }
  void setLeft(float twips) override { left_ = twips; }
  void setTop(float twips) override { top_ = twips; }
  void selectOption(int index) override { selected_ = index; }
  bool optionSelected(int index) override { return selected_ == index; }
  void show() override {
    dialog_.selectedWhenShown = selected_;
    dialog_.leftWhenShown = left_;
    dialog_.topWhenShown = top_;
  }
  void run(DialogEvents& events) override {
    if (dialog_.userSelects) selected_ = *dialog_.userSelects;
    if (dialog_.ending == FakeDialog::Ending::kPressOk) events.commandClicked();
  }
  void close() override { dialog_.closed = true; }

 private:
  FakeDialog& dialog_;
  std::optional<int> selected_;
  std::optional<float> left_;
  std::optional<float> top_;
};

}  // namespace parvo
