#pragma once

#include <memory>

#include "common/progress.h"

namespace archivers {

// A progress window, as the window module (libparvo-qt.so, beside the libraries) makes it. It
// lives on the thread that opened it.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  // Shows the snapshot and services the window's events. True once the user asked to stop, with
  // the button, Escape or the close box.
  virtual bool update(const ProgressSnapshot& snapshot) = 0;
};

inline constexpr char kWindowModuleFileName[] = "libparvo-qt.so";
// extern "C" ProgressWindow* parvoOpenProgressWindow(): a new window, or null without a display.
inline constexpr char kProgressWindowEntryPoint[] = "parvoOpenProgressWindow";

// True when DISPLAY or WAYLAND_DISPLAY names a display.
bool hasDisplay();
// The window module, loaded on first use from beside this library, else wherever the loader finds
// it, and never unloaded (the toolkit does not support it); null when it cannot be loaded.
void* windowModule();
// The module's entry point of that name, or null.
void* dlsymOf(void* module, const char* name);

// Shows a call that lasts past half a second in a window of its own, when there is a display to
// show it on. The window's module (and with it the toolkit) is loaded only then.
std::unique_ptr<ProgressPresenter> windowPresenter();

}  // namespace archivers
