#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parvo {

// The settings window, described once for every view that renders it. Positions and sizes are
// in twips, measured from the top-left corner of the client area.
inline constexpr int kTwipsPerPixel = 15;

struct Colour {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
  bool operator==(const Colour&) const = default;
};

struct TwipRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t width;
  std::int32_t height;
};

struct FontSpec {
  std::wstring family;
  int points;
  bool italic;
  int weight;  // 400 regular, 700 bold
  bool underline;
  bool strikeOut;
  int characterSet;  // 128: Shift-JIS
};

enum class ControlKind { kFilledRectangle, kLabel, kPushButton, kOptionButton };

struct ControlLayout {
  std::wstring name;
  std::optional<int> index;  // the index within a control array; none for a single control
  ControlKind kind;
  TwipRect bounds;
  std::wstring caption;              // never holds an access key
  std::optional<Colour> textColour;  // none: the platform's colours
  std::optional<Colour> fillColour;  // none: no background of its own (or the platform's)
  std::optional<FontSpec> font;      // none: the platform's dialog font
  std::optional<int> tabIndex;       // none for rectangles
  bool selected = false;             // option buttons: selected in the initial layout
};

struct FormLayout {
  std::wstring caption;
  std::int32_t clientWidth;
  std::int32_t clientHeight;
  std::vector<ControlLayout> controls;  // in stacking order, bottom first
};

// Form1: four rectangles painting a blue band, the version label, a heading, three option
// buttons for the format and the OK button.
const FormLayout& Form1Layout();

// The controls that take the focus (buttons, not labels or rectangles), by tab index. The first
// has the focus when the window is first shown.
inline std::vector<const ControlLayout*> focusOrder(const FormLayout& layout) {
  std::vector<const ControlLayout*> order;
  for (const ControlLayout& control : layout.controls) {
    const bool button =
        control.kind == ControlKind::kPushButton || control.kind == ControlKind::kOptionButton;
    if (button && control.tabIndex) order.push_back(&control);
  }
  std::ranges::sort(order, {}, [](const ControlLayout* control) { return *control->tabIndex; });
  return order;
}

}  // namespace parvo
