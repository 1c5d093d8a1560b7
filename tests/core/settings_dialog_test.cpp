#include "settings/settings_dialog.h"

#include <gtest/gtest.h>

#include "runtime/run_time_error.h"
#include "settings/format_preference.h"
#include "support/simulated_windows.h"

namespace parvo {
namespace {

using Ending = FakeDialog::Ending;

TEST(SettingsDialog, ShowsTheStoredFormatAndStoresWhatIsSelectedOnOk) {
  const struct {
    std::optional<std::wstring> stored;
    int shown;
    std::optional<int> userSelects;
    Ending ending;
    std::optional<std::wstring> storedAfter;
  } cases[] = {
      {{}, 1, {}, Ending::kPressOk, L"cabex"},       {L"cab  ", 0, {}, Ending::kPressOk, L"cab  "},
      {L"cab", 0, {}, Ending::kPressOk, L"cab  "},   {L"lha  ", 2, {}, Ending::kPressOk, L"lha  "},
      {L"lha", 2, {}, Ending::kPressOk, L"lha  "},   {L"CABEX", 1, {}, Ending::kPressOk, L"cabex"},
      {L" cab", 1, {}, Ending::kPressOk, L"cabex"},  {L"lha", 2, 0, Ending::kPressOk, L"cab  "},
      {L"cab  ", 0, 2, Ending::kCloseBox, L"cab  "}, {{}, 1, 0, Ending::kCloseBox, {}},
  };
  for (const auto& c : cases) {
    SimulatedWindows windows;
    if (c.stored) windows.setSetting(formatPreferenceKey(), *c.stored);
    windows.dialog().userSelects = c.userSelects;
    windows.dialog().ending = c.ending;
    ShowForm1(windows);
    const std::wstring label = c.stored.value_or(L"(nothing)");
    EXPECT_EQ(windows.dialog().selectedWhenShown, c.shown) << label;
    EXPECT_EQ(windows.readSetting(formatPreferenceKey()), c.storedAfter) << label;
    EXPECT_EQ(windows.dialog().calls.back(), c.ending == Ending::kPressOk ? "close" : "run");
  }
}

TEST(SettingsDialog, CentresLeftThenTopInHalfTwipsWithoutClamping) {
  const struct {
    TwipSize screen;
    TwipSize window;
    const char* left;
    const char* top;
  } cases[] = {
      {{14400, 10800}, {3795, 3915}, "left 5302.5", "top 3442.5"},
      {{14400, 10800}, {3796, 3916}, "left 5302", "top 3442"},
      {{3000, 2000}, {3795, 3915}, "left -397.5", "top -957.5"},
  };
  for (const auto& c : cases) {
    SimulatedWindows windows;
    windows.setSetting(formatPreferenceKey(), L"lha  ");
    windows.dialog().screen = c.screen;
    windows.dialog().window = c.window;
    ShowForm1(windows);
    const std::vector<std::string> expected{"select 2", "screen", "window", c.left, "screen",
                                            "window",   c.top,    "show",   "run",  "close"};
    EXPECT_EQ(windows.dialog().calls, expected);
  }
}

TEST(SettingsDialog, AFailedSaveClosesTheWindowAndIsRaised) {
  SimulatedWindows windows;
  windows.failSettingWrites();
  EXPECT_THROW(ShowForm1(windows), RunTimeError);
  EXPECT_EQ(windows.dialog().calls.back(), "close");
}

}  // namespace
}  // namespace parvo
