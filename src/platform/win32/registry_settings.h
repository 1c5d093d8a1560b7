#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace parvo {

// The per-user settings store: one REG_SZ value per key under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\APPLICATION\SECTION, where the
// program's earlier versions kept the user's choice.
std::wstring registrySettingPath(const SettingKey& key);

// Nothing when the value (or its key) is absent or is not text.
std::optional<std::wstring> readRegistrySetting(const SettingKey& key);
// Creates the keys on the way; false when the value cannot be written.
bool writeRegistrySetting(const SettingKey& key, const std::wstring& value);

}  // namespace parvo
