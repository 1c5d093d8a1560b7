#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "settings/dialog_view.h"
#include "settings/form1_layout.h"

namespace parvo {

// The settings window in memory: it reports the sizes it is given, records what the dialog
// does to it in order, and when run plays the user's part.
struct FakeDialog {
  enum class Ending { kPressOk, kCloseBox };

  TwipSize screen{14400, 10800};
  TwipSize window{3795, 3915};
  std::optional<int> userSelects;  // the option the user picks before the ending
  Ending ending = Ending::kPressOk;

  // "screen", "window", "left 5302.5", "top -7.5", "select 2", "show", "run", "close".
  std::vector<std::string> calls;
  std::optional<int> selectedWhenShown;
};

class FakeDialogView : public DialogView {
 public:
  FakeDialogView(FakeDialog& dialog, const FormLayout& layout) : dialog_(dialog) {
    for (const ControlLayout& control : layout.controls) {
      if (control.kind == ControlKind::kOptionButton && control.selected) selected_ = control.index;
    }
  }

  TwipSize screenSize() override { return record("screen"), dialog_.screen; }
  TwipSize windowSize() override { return record("window"), dialog_.window; }
  void setLeft(float twips) override { record("left", twips); }
  void setTop(float twips) override { record("top", twips); }
  void selectOption(int index) override { record("select", index), selected_ = index; }
  bool optionSelected(int index) override { return selected_ == index; }
  void show() override { record("show"), dialog_.selectedWhenShown = selected_; }
  void run(DialogEvents& events) override {
    record("run");
    if (dialog_.userSelects) selected_ = *dialog_.userSelects;
    if (dialog_.ending == FakeDialog::Ending::kPressOk) events.commandClicked();
  }
  void close() override { record("close"); }

 private:
  void record(const std::string& call) { dialog_.calls.push_back(call); }
  template <typename Value>
  void record(const std::string& call, Value value) {
    std::ostringstream text;
    text << call << ' ' << value;
    dialog_.calls.push_back(text.str());
  }

  FakeDialog& dialog_;
  std::optional<int> selected_;
};

}  // namespace parvo
