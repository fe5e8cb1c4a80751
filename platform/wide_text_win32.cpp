#include "platform/wide_text_win32.h"

#include <windows.h>

namespace platform {

bool utf8_to_utf16(const std::string& utf8, std::wstring& utf16) {
  utf16.clear();
  if (utf8.empty()) return true;
  // A NUL would end the name early in every wide call.
  if (utf8.find('\0') != std::string::npos) return false;
  const int size = static_cast<int>(utf8.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (length <= 0) return false;
  utf16.resize(static_cast<std::size_t>(length));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &utf16[0], length) ==
         length;
}

bool utf16_to_utf8(const std::wstring& utf16, std::string& utf8) {
  utf8.clear();
  if (utf16.empty()) return true;
  const int size = static_cast<int>(utf16.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return false;
  utf8.resize(static_cast<std::size_t>(length));
  return ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(), size, &utf8[0], length,
                               nullptr, nullptr) == length;
}

}  // namespace platform
