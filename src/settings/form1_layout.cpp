#include "settings/form1_layout.h"

namespace parvo {
namespace {

constexpr Colour kWhite{255, 255, 255};
constexpr Colour kBlue{0, 0, 255};

ControlLayout shape(int index, TwipRect bounds, Colour fill) {
  return {L"Shape1", index, ControlKind::kFilledRectangle, bounds, L"", {}, fill, {}, {}};
}

ControlLayout label(std::wstring name, std::optional<int> index, TwipRect bounds,
                    std::wstring caption, int tabIndex) {
  return {std::move(name), index, ControlKind::kLabel, bounds, std::move(caption), kWhite, {}, {},
          tabIndex};
}

ControlLayout option(int index, TwipRect bounds, std::wstring caption, int tabIndex) {
  return {L"Option1",
          index,
          ControlKind::kOptionButton,
          bounds,
          std::move(caption),
          kWhite,
          kBlue,
          {},
          tabIndex,
          index == 1};
}

FormLayout makeForm1() {
  ControlLayout label1 = label(L"Label1", {}, {240, 120, 3255, 375}, L"Parvo Version 1.2", 0);
  label1.font = FontSpec{L"ＭＳ Ｐゴシック", 18, true, 400, false, false, 128};
  return {
      L"Parvo Version 1.0",
      3705,
      3495,
      {
          shape(0, {0, 0, 255, 4695}, {0, 0, 64}),
          shape(1, {240, 0, 255, 4695}, {0, 0, 128}),
          shape(2, {480, 0, 255, 4695}, {0, 0, 192}),
          shape(3, {720, 0, 3015, 4695}, kBlue),
          label1,
          label(L"Label2", 0, {1080, 1440, 1695, 255}, L"圧縮ファイルの形式", 2),
          label(L"Label2", 1, {840, 720, 2655, 255}, L"Drop to extract or to pack", 6),
          {L"Command1",
           {},
           ControlKind::kPushButton,
           {1080, 3000, 1575, 255},
           L"OK",
           {},
           {},
           {},
           1},
          option(0, {1560, 1800, 2055, 255}, L"CAB形式", 3),
          option(1, {1560, 2160, 2055, 255}, L"CAB形式（自己解凍）", 4),
          option(2, {1560, 2520, 1815, 255}, L"LHA形式", 5),
      },
  };
}

}  // namespace

const FormLayout& Form1Layout() {
  static const FormLayout layout = makeForm1();
  return layout;
}

}  // namespace parvo
