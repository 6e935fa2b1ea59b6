// Conversions between UTF-16 and 8-bit text.
#pragma once

#include <string>
#include <string_view>

namespace win {

constexpr unsigned kAnsiCodePage = 0;  // CP_ACP
constexpr unsigned kUtf8CodePage = 65001;

std::string WideToBytes(std::wstring_view text, unsigned codePage);
std::wstring BytesToWide(std::string_view bytes, unsigned codePage);

}  // namespace win
