#include "platform/win32/ansi_text.h"

#include <windows.h>

namespace parvo {

std::optional<std::string> toAnsiText(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  // With UTF-8 as the ANSI code page the call takes neither the flag nor the used-default
  // question; an unpaired surrogate then fails the round trip below.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* const usedDefaultFlag = utf8 ? nullptr : &usedDefault;
  const int size =
      WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0, nullptr, usedDefaultFlag);
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, flags, text.data(), length, result.data(), size, nullptr,
                      usedDefaultFlag);
  if (usedDefault || fromAnsiText(result) != text) return std::nullopt;
  return result;
}

std::wstring fromAnsiText(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.data(), size);
  return result;
}

}  // namespace parvo
