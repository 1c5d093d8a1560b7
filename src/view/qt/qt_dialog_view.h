#pragma once

#include <memory>
#include <vector>

#include "settings/dialog_view.h"
#include "settings/form1_layout.h"

class QRadioButton;
class QWidget;

namespace parvo {

// A FormLayout as a Qt Widgets window: one logical pixel per 15 twips (Qt scales logical pixels
// on high-density screens), controls created bottom first so later ones lie on top.
class QtDialogView final : public DialogView {
 public:
  explicit QtDialogView(const FormLayout& layout);
  ~QtDialogView() override;

  // The top-level window; its children are named after the controls: "Shape1(3)", "Label1".
  QWidget* window() const;

  TwipSize screenSize() override;
  TwipSize windowSize() override;
  void setLeft(float twips) override;
  void setTop(float twips) override;
  void selectOption(int index) override;
  bool optionSelected(int index) override;
  void show() override;
  void run(DialogEvents& events) override;
  void close() override;

 private:
  class Window;

  void addControl(const ControlLayout& control);

  std::unique_ptr<Window> window_;
  std::vector<QRadioButton*> options_;  // by Option1 index
  std::vector<QWidget*> focusChain_;
  DialogEvents* events_ = nullptr;
  bool closed_ = false;
};

// Maps the Windows font families the layouts name onto metric-compatible fonts that Linux
// distributions ship, so text keeps its width.
void installFontSubstitutes();

}  // namespace parvo
