#include "settings/settings_dialog.h"

#include <gtest/gtest.h>

#include "settings/format_preference.h"
#include "support/simulated_windows.h"

namespace parvo {
namespace {

// Nothing stored means the default; stored text is fitted to five characters, unvalidated.
TEST(FormatPreference, StoredTextIsFittedToFiveCharactersUnvalidated) {
  const std::pair<std::optional<std::wstring>, FormatCode> cases[] = {
      {{}, L"cabex"},  {L"cab", L"cab  "},   {L"cabexe", L"cabex"}, {L"cabex ", L"cabex"},
      {L"", L"     "}, {L"CABEX", L"CABEX"}, {L" cab", L" cab "},
  };
  for (const auto& [stored, code] : cases) {
    SimulatedWindows windows;
    if (stored) windows.writeSetting(formatPreferenceKey(), *stored);
    EXPECT_EQ(ReadFormatPreference(windows), code) << stored.value_or(L"(nothing)");
  }
}

// The window shows the stored format (the layout's default when the code is none of the three),
// and OK stores what is selected then and closes the window; the close box stores nothing. The
// window is centred in half twips, on a screen smaller than itself too, without clamping.
TEST(SettingsDialog, ShowsTheStoredFormatAndStoresWhatIsSelectedOnOk) {
  const struct {
    std::optional<std::wstring> stored;
    int shown;
    std::optional<int> userSelects;
    bool pressOk;
    std::optional<std::wstring> storedAfter;
  } cases[] = {
      {{}, 1, {}, true, L"cabex"},     {L"cab  ", 0, {}, true, L"cab  "},
      {L"lha", 2, {}, true, L"lha  "}, {L"CABEX", 1, {}, true, L"cabex"},
      {L"lha", 2, 0, true, L"cab  "},  {{}, 1, 0, false, {}},
  };
  for (const auto& c : cases) {
    SimulatedWindows windows;
    if (c.stored) windows.writeSetting(formatPreferenceKey(), *c.stored);
    windows.dialog.userSelects = c.userSelects;
    windows.dialog.pressOk = c.pressOk;
    ShowForm1(windows);
    SCOPED_TRACE(c.stored.value_or(L"(nothing)"));
    EXPECT_EQ(windows.dialog.selectedWhenShown, c.shown);
    EXPECT_EQ(windows.readSetting(formatPreferenceKey()), c.storedAfter);
    EXPECT_EQ(windows.dialog.closed, c.pressOk);
    EXPECT_EQ(windows.dialog.left, -397.5f);
    EXPECT_EQ(windows.dialog.top, -957.5f);
  }
}

TEST(SettingsDialog, AFailedSaveClosesTheWindowAndIsRaised) {
  SimulatedWindows windows;
  windows.failSettingWrites = true;
  EXPECT_THROW(ShowForm1(windows), RunTimeError);
  EXPECT_TRUE(windows.dialog.closed);
}

}  // namespace
}  // namespace parvo
