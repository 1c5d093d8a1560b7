#pragma once

#include <cstdint>

namespace parvo {

struct TwipSize {
  std::int32_t width;
  std::int32_t height;
};

// What the settings window reports back to the dialog's logic.
class DialogEvents {
 public:
  virtual void commandClicked() = 0;

 protected:
  ~DialogEvents() = default;
};

// A window that renders a FormLayout on one platform. The dialog's logic drives it; the view
// holds no behaviour of its own beyond the platform's controls.
class DialogView {
 public:
  virtual ~DialogView() = default;

  // The whole screen (not its work area) and the window's outer frame, in twips.
  virtual TwipSize screenSize() = 0;
  virtual TwipSize windowSize() = 0;
  // Moves the outer frame's left or top edge; a half twip or a negative position is allowed.
  virtual void setLeft(float twips) = 0;
  virtual void setTop(float twips) = 0;

  // Option1 by index: selecting one clears the others.
  virtual void selectOption(int index) = 0;
  virtual bool optionSelected(int index) = 0;

  // Shows the window modeless, without an owner.
  virtual void show() = 0;
  // Runs the window's events until it is closed, by close() or by the user.
  virtual void run(DialogEvents& events) = 0;
  virtual void close() = 0;
};

}  // namespace parvo
