#include "settings/format_preference.h"

#include <gtest/gtest.h>

#include "support/simulated_windows.h"

namespace parvo {
namespace {

FormatCode readStored(const std::wstring& stored) {
  SimulatedWindows windows;
  windows.setSetting(formatPreferenceKey(), stored);
  return ReadFormatPreference(windows);
}

TEST(FormatPreference, StoredTextIsFittedToFiveCharactersUnvalidated) {
  EXPECT_EQ(readStored(L"cab"), L"cab  ");
  EXPECT_EQ(readStored(L"lha"), L"lha  ");
  EXPECT_EQ(readStored(L"cabexe"), L"cabex");
  EXPECT_EQ(readStored(L"cabex "), L"cabex");
  EXPECT_EQ(readStored(L""), L"     ");
  EXPECT_EQ(readStored(L"CABEX"), L"CABEX");
  EXPECT_EQ(readStored(L" cab"), L" cab ");
}

}  // namespace
}  // namespace parvo
