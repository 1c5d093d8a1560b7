#pragma once

#include <string>

#include "platform/platform.h"

namespace parvo {

// A five-character archive format code for folder compression. The two blanks belong to the
// codes: "cab  ", "cabex" and "lha  ".
using FormatCode = std::wstring;

inline const FormatCode kCabinetCode = L"cab  ";
inline const FormatCode kSelfExtractingCode = L"cabex";
inline const FormatCode kLhaCode = L"lha  ";
inline const FormatCode kDefaultFormatCode = kSelfExtractingCode;
inline constexpr std::size_t kFormatCodeLength = 5;

// Where the preference lives in the per-user settings store.
const SettingKey& formatPreferenceKey();

// The stored code fitted to five characters; "cabex" when nothing is stored. Not validated.
FormatCode ReadFormatPreference(Platform& platform);
void SaveFormatPreference(Platform& platform, const FormatCode& code);

}  // namespace parvo
