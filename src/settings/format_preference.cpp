#include "settings/format_preference.h"

#include "runtime/fixed_text.h"

namespace parvo {

const SettingKey& formatPreferenceKey() {
  static const SettingKey key{L"norrin", L"parvo", L"arcdllselect"};
  return key;
}

FormatCode ReadFormatPreference(Platform& platform) {
  const auto stored = platform.readSetting(formatPreferenceKey());
  return fitText(stored.value_or(kDefaultFormatCode), kFormatCodeLength);
}

void SaveFormatPreference(Platform& platform, const FormatCode& code) {
  platform.writeSetting(formatPreferenceKey(), fitText(code, kFormatCodeLength));
}

}  // namespace parvo
