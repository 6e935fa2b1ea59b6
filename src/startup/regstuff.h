// RegStuff: write or delete one registry value, opening and closing its key within the call.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace RegStuff {

using RegValue = std::variant<std::wstring, int32_t>;

// Query, set, create sub-key, enumerate, notify and create link: no standard rights.
constexpr REGSAM kKeyAccess = 0x3F;

// Returns the status of the write; 0 without writing for a type other than REG_SZ or REG_DWORD.
LONG WriteRegValue(HKEY key, std::wstring_view name, DWORD type, const RegValue& value);
// Returns false when the key could not be opened; no key is ever created.
bool SetRegValue(HKEY root, std::wstring_view subKey, std::wstring_view name, const RegValue& value,
                 DWORD type);
void DeleteRegValue(HKEY root, std::wstring_view subKey, std::wstring_view name);

// Where the start-up entry goes: the machine-wide Run key, or the user's when that one cannot be
// opened for writing.
struct RunKeys {
  HKEY machineRoot = HKEY_LOCAL_MACHINE;
  std::wstring machineSubKey = L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN\\";
  HKEY userRoot = HKEY_CURRENT_USER;
  std::wstring userSubKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
};
void SetRunValue(std::wstring_view name, const RunKeys& keys = {});
void DeleteRunValue(std::wstring_view name, const RunKeys& keys = {});

}  // namespace RegStuff
