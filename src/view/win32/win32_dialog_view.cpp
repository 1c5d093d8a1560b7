#include "view/win32/win32_dialog_view.h"

#include <cmath>

#include "platform/win32/resource_ids.h"
#include "runtime/run_time_error.h"

namespace parvo {
namespace {

constexpr wchar_t kWindowClass[] = L"ParvoForm";
constexpr int kTwipsPerInch = 1440;
constexpr int kFirstControlId = 100;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_WINDOWEDGE;

COLORREF colourRef(Colour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

int pixels(std::int32_t twips, int dotsPerInch) {
  return MulDiv(twips, dotsPerInch, kTwipsPerInch);
}

int pixels(float twips, int dotsPerInch) {
  return static_cast<int>(std::lround(static_cast<double>(twips) * dotsPerInch / kTwipsPerInch));
}

std::int32_t twips(int pixels, int dotsPerInch) {
  return MulDiv(pixels, kTwipsPerInch, dotsPerInch);
}

HFONT createFont(const FontSpec& spec, int dotsPerInchY) {
  return CreateFontW(-MulDiv(spec.points, dotsPerInchY, 72), 0, 0, 0, spec.weight, spec.italic,
                     spec.underline, spec.strikeOut, static_cast<DWORD>(spec.characterSet),
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, spec.family.c_str());
}

HFONT createDialogFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return CreateFontIndirectW(&metrics.lfMessageFont);
  }
  return nullptr;
}

void registerWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  if (GetClassInfoExW(instance, kWindowClass, &windowClass)) return;
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(PARVO_ICON));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(PARVO_ICON),
                                                      IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), 0));
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass)) raiseError(kOutOfMemory);
}

}  // namespace

Win32DialogView::Win32DialogView(const FormLayout& layout) : layout_(layout) {
  const HDC screen = GetDC(nullptr);
  dotsPerInchX_ = GetDeviceCaps(screen, LOGPIXELSX);
  dotsPerInchY_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);

  const HINSTANCE instance = GetModuleHandleW(nullptr);
  registerWindowClass(instance, &Win32DialogView::windowProcedure);
  dialogFont_ = createDialogFont();
  for (const ControlLayout& control : layout_.controls) {
    fonts_.push_back(control.font ? createFont(*control.font, dotsPerInchY_) : nullptr);
    brushes_.push_back(control.fillColour ? CreateSolidBrush(colourRef(*control.fillColour))
                                          : nullptr);
  }

  RECT frame{0, 0, pixels(layout_.clientWidth, dotsPerInchX_),
             pixels(layout_.clientHeight, dotsPerInchY_)};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  // No owner: the window stands on its own on the desktop and in the taskbar.
  window_ = CreateWindowExW(kWindowExStyle, kWindowClass, layout_.caption.c_str(), kWindowStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                            frame.bottom - frame.top, nullptr, nullptr, instance, this);
  if (window_ == nullptr) raiseError(kOutOfMemory);

  // Buttons in tab order: the dialog manager's Tab follows the order of creation.
  // A change of kind starts a group: the push button stands alone, the options form one.
  const ControlLayout* previous = nullptr;
  for (const ControlLayout* control : focusOrder(layout_)) {
    const bool startsGroup = previous == nullptr || previous->kind != control->kind;
    createControl(static_cast<std::size_t>(control - layout_.controls.data()), startsGroup);
    previous = control;
  }
  if (!focusOrder_.empty()) lastFocus_ = focusOrder_.front();
}

Win32DialogView::~Win32DialogView() {
  if (window_ != nullptr) DestroyWindow(window_);
  for (HFONT font : fonts_) {
    if (font != nullptr) DeleteObject(font);
  }
  for (HBRUSH brush : brushes_) {
    if (brush != nullptr) DeleteObject(brush);
  }
  if (dialogFont_ != nullptr) DeleteObject(dialogFont_);
}

void Win32DialogView::createControl(std::size_t index, bool startsGroup) {
  const ControlLayout& control = layout_.controls[index];
  const bool option = control.kind == ControlKind::kOptionButton;
  DWORD style = WS_CHILD | WS_VISIBLE | (option ? BS_AUTORADIOBUTTON : BS_PUSHBUTTON);
  if (startsGroup) style |= WS_GROUP | WS_TABSTOP;
  const RECT bounds = pixelRect(control.bounds);
  // Captions have no access keys: a '&' stands for itself.
  std::wstring caption;
  for (const wchar_t character : control.caption) {
    caption += character;
    if (character == L'&') caption += L'&';
  }
  const HWND button =
      CreateWindowExW(0, L"BUTTON", caption.c_str(), style, bounds.left, bounds.top,
                      bounds.right - bounds.left, bounds.bottom - bounds.top, window_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index)),
                      GetModuleHandleW(nullptr), nullptr);
  if (button == nullptr) raiseError(kOutOfMemory);
  SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(fontOf(index)), FALSE);
  focusOrder_.push_back(button);
  if (option) {
    const auto optionIndex = static_cast<std::size_t>(control.index.value_or(0));
    if (options_.size() <= optionIndex) options_.resize(optionIndex + 1);
    options_[optionIndex] = button;
    if (control.selected) selectOption(static_cast<int>(optionIndex));
  }
}

RECT Win32DialogView::pixelRect(const TwipRect& bounds) const {
  return {pixels(bounds.left, dotsPerInchX_), pixels(bounds.top, dotsPerInchY_),
          pixels(bounds.left + bounds.width, dotsPerInchX_),
          pixels(bounds.top + bounds.height, dotsPerInchY_)};
}

HFONT Win32DialogView::fontOf(std::size_t index) const {
  return fonts_[index] != nullptr ? fonts_[index] : dialogFont_;
}

const ControlLayout* Win32DialogView::controlOf(HWND child) const {
  const auto index = static_cast<std::size_t>(GetDlgCtrlID(child) - kFirstControlId);
  return index < layout_.controls.size() ? &layout_.controls[index] : nullptr;
}

TwipSize Win32DialogView::screenSize() {
  return {twips(GetSystemMetrics(SM_CXSCREEN), dotsPerInchX_),
          twips(GetSystemMetrics(SM_CYSCREEN), dotsPerInchY_)};
}

TwipSize Win32DialogView::windowSize() {
  RECT frame{};
  GetWindowRect(window_, &frame);
  return {twips(frame.right - frame.left, dotsPerInchX_),
          twips(frame.bottom - frame.top, dotsPerInchY_)};
}

void Win32DialogView::setLeft(float twips) {
  RECT frame{};
  GetWindowRect(window_, &frame);
  SetWindowPos(window_, nullptr, pixels(twips, dotsPerInchX_), frame.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32DialogView::setTop(float twips) {
  RECT frame{};
  GetWindowRect(window_, &frame);
  SetWindowPos(window_, nullptr, frame.left, pixels(twips, dotsPerInchY_), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32DialogView::selectOption(int index) {
  const HWND chosen = options_.at(static_cast<std::size_t>(index));
  for (HWND option : options_) {
    SendMessageW(option, BM_SETCHECK, option == chosen ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  optionChosen(chosen);
}

// Tab enters the option group at the selected option, as the dialog manager expects.
void Win32DialogView::optionChosen(HWND chosen) {
  for (HWND option : options_) {
    LONG style = GetWindowLongW(option, GWL_STYLE) & ~WS_TABSTOP;
    if (option == chosen) style |= WS_TABSTOP;
    SetWindowLongW(option, GWL_STYLE, style);
  }
}

bool Win32DialogView::optionSelected(int index) {
  return SendMessageW(options_.at(static_cast<std::size_t>(index)), BM_GETCHECK, 0, 0) ==
         BST_CHECKED;
}

void Win32DialogView::show() {
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  if (lastFocus_ != nullptr) SetFocus(lastFocus_);
}

void Win32DialogView::run(DialogEvents& events) {
  events_ = &events;
  MSG message;
  while (!closed_ && GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window_ != nullptr && IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  events_ = nullptr;
  if (failure_) std::rethrow_exception(failure_);
}

void Win32DialogView::close() {
  if (window_ != nullptr) DestroyWindow(window_);
}

void Win32DialogView::paint() {
  PAINTSTRUCT paint;
  const HDC context = BeginPaint(window_, &paint);
  SetBkMode(context, TRANSPARENT);
  const HGDIOBJ originalFont = GetCurrentObject(context, OBJ_FONT);
  for (std::size_t index = 0; index < layout_.controls.size(); ++index) {
    const ControlLayout& control = layout_.controls[index];
    RECT bounds = pixelRect(control.bounds);
    if (control.kind == ControlKind::kFilledRectangle && brushes_[index] != nullptr) {
      FillRect(context, &bounds, brushes_[index]);
    } else if (control.kind == ControlKind::kLabel) {
      SelectObject(context, fontOf(index));
      SetTextColor(context, control.textColour ? colourRef(*control.textColour)
                                               : GetSysColor(COLOR_WINDOWTEXT));
      DrawTextW(context, control.caption.c_str(), static_cast<int>(control.caption.size()), &bounds,
                DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    }
  }
  SelectObject(context, originalFont);
  EndPaint(window_, &paint);
}

LRESULT CALLBACK Win32DialogView::windowProcedure(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* view =
        static_cast<Win32DialogView*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    view->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  auto* view = reinterpret_cast<Win32DialogView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  // No exception may cross the system's code that called this: it is raised again from run().
  try {
    return view->handle(message, wParam, lParam);
  } catch (...) {
    if (!view->failure_) view->failure_ = std::current_exception();
    if (message != WM_DESTROY && message != WM_NCDESTROY) DestroyWindow(window);
    return 0;
  }
}

LRESULT Win32DialogView::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the rectangles cover the whole client area
    case WM_PAINT:
      paint();
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      const ControlLayout* control = controlOf(reinterpret_cast<HWND>(lParam));
      if (control == nullptr || !control->fillColour) break;
      const auto context = reinterpret_cast<HDC>(wParam);
      if (control->textColour) SetTextColor(context, colourRef(*control->textColour));
      SetBkColor(context, colourRef(*control->fillColour));
      return reinterpret_cast<LRESULT>(
          brushes_[static_cast<std::size_t>(control - layout_.controls.data())]);
    }
    case WM_COMMAND: {
      if (HIWORD(wParam) != BN_CLICKED) break;
      const auto child = reinterpret_cast<HWND>(lParam);
      const ControlLayout* control = controlOf(child);
      if (control == nullptr) break;
      if (control->kind == ControlKind::kOptionButton) optionChosen(child);
      if (control->kind == ControlKind::kPushButton && events_ != nullptr) {
        events_->commandClicked();
      }
      return 0;
    }
    case WM_ACTIVATE:
      // Keep the focused control while the window is inactive, as a dialog does.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) lastFocus_ = focus;
      } else if (lastFocus_ != nullptr) {
        SetFocus(lastFocus_);
      }
      return 0;
    case WM_DESTROY:
      closed_ = true;
      return 0;
    case WM_NCDESTROY: {
      const HWND window = window_;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      window_ = nullptr;
      return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace parvo
