#pragma once

#include <memory>
#include <string>

#include "settings/dialog_view.h"
#include "settings/form1_layout.h"

namespace parvo {

// The program's windows on a desktop, in a module of their own that is loaded on first need,
// so that a run with nothing to show never loads a toolkit.
class GuiModule {
 public:
  // Connects to the display; false when there is none to show windows on.
  virtual bool start() = 0;
  // A modal message box with an OK button only and no icon; returns when it is closed. False when
  // the display was lost before or while it was shown: the text is to be told some other way.
  virtual bool showMessage(const std::wstring& text, const std::wstring& caption) = 0;
  // Null once the display is lost.
  virtual std::unique_ptr<DialogView> createDialogView(const FormLayout& layout) = 0;
  // Closes the connection; the module stays loaded.
  virtual void stop() = 0;

 protected:
  ~GuiModule() = default;
};

inline constexpr char kGuiModuleFileName[] = "libparvo-qt.so";
// extern "C" GuiModule* parvoGuiModule(): the module's one entry point.
inline constexpr char kGuiModuleEntryPoint[] = "parvoGuiModule";

}  // namespace parvo
