#pragma once

#include <windows.h>

#include <exception>
#include <vector>

#include "settings/dialog_view.h"
#include "settings/form1_layout.h"

namespace parvo {

// A FormLayout as a top-level Win32 window with a fixed frame, a caption, the program's icon
// and a close box. Rectangles and labels are painted on the window in stacking order; buttons
// are the system's controls, created in tab order. Twips become pixels at the screen's dots per
// inch (1440 twips an inch); a half pixel of a position rounds away from zero.
class Win32DialogView final : public DialogView {
 public:
  explicit Win32DialogView(const FormLayout& layout);
  ~Win32DialogView() override;
  Win32DialogView(const Win32DialogView&) = delete;
  Win32DialogView& operator=(const Win32DialogView&) = delete;

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
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createControl(std::size_t index, bool startsGroup);
  void paint();
  void optionChosen(HWND option);
  RECT pixelRect(const TwipRect& bounds) const;
  HFONT fontOf(std::size_t index) const;
  const ControlLayout* controlOf(HWND child) const;

  FormLayout layout_;
  int dotsPerInchX_;
  int dotsPerInchY_;
  HWND window_ = nullptr;
  HFONT dialogFont_ = nullptr;
  std::vector<HFONT> fonts_;     // by control: null for the dialog font
  std::vector<HBRUSH> brushes_;  // by control: null for no fill of its own
  std::vector<HWND> options_;    // by Option1 index
  std::vector<HWND> focusOrder_;
  HWND lastFocus_ = nullptr;
  DialogEvents* events_ = nullptr;
  bool closed_ = false;
  std::exception_ptr failure_;
};

}  // namespace parvo
