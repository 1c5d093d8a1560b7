#include "settings/format_preference.h"

#include <gtest/gtest.h>

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
    if (stored) windows.setSetting(formatPreferenceKey(), *stored);
    EXPECT_EQ(ReadFormatPreference(windows), code) << stored.value_or(L"(nothing)");
  }
}

}  // namespace
}  // namespace parvo
