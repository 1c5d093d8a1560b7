#include "platform/win32/registry_settings.h"

#include <windows.h>

namespace parvo {

std::wstring registrySettingPath(const SettingKey& key) {
  return L"Software\\VB and VBA Program Settings\\" + key.application + L'\\' + key.section;
}

std::optional<std::wstring> readRegistrySetting(const SettingKey& key) {
  const std::wstring path = registrySettingPath(key);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD bytes = 0;
    LONG status = RegGetValueW(HKEY_CURRENT_USER, path.c_str(), key.key.c_str(), RRF_RT_REG_SZ,
                               nullptr, nullptr, &bytes);
    if (status != ERROR_SUCCESS) return std::nullopt;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    status = RegGetValueW(HKEY_CURRENT_USER, path.c_str(), key.key.c_str(), RRF_RT_REG_SZ, nullptr,
                          value.data(), &bytes);
    // Another instance may have stored a longer value in between: ask again.
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return std::nullopt;
    value.resize(value.find(L'\0'));
    return value;
  }
  return std::nullopt;
}

bool writeRegistrySetting(const SettingKey& key, const std::wstring& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, registrySettingPath(key).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  const LONG status = RegSetValueExW(handle, key.key.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

}  // namespace parvo
