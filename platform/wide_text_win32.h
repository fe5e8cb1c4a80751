// UTF-8 and UTF-16 for the wide Windows API: paths reach the filter as UTF-8.
#pragma once

#include <string>

namespace platform {

// The UTF-16 form of `utf8`; false when it is not valid UTF-8 or holds a NUL.
// May throw std::bad_alloc.
bool utf8_to_utf16(const std::string& utf8, std::wstring& utf16);

// The UTF-8 form of `utf16`; false when it holds a lone surrogate.
// May throw std::bad_alloc.
bool utf16_to_utf8(const std::wstring& utf16, std::string& utf8);

}  // namespace platform
