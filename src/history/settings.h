// The per-user settings store: string values under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<application>\<section>.
#pragma once

#include <string>
#include <string_view>

namespace history {

inline constexpr wchar_t kSettingsApp[] = L"Kestrelay";
inline constexpr wchar_t kSettingsSection[] = L"Pellucidor";

std::wstring SettingsKeyPath(std::wstring_view application, std::wstring_view section);

// The stored string, or the default when the value is absent or not a string.
std::wstring GetSetting(std::wstring_view application, std::wstring_view section, std::wstring_view key,
                        std::wstring_view defaultValue);

// Creates or replaces the value. Returns false when the store refused it.
bool SaveSetting(std::wstring_view application, std::wstring_view section, std::wstring_view key,
                 const std::wstring& value);
// Asks the store to put the section's values on disk now, before anything relies on them there.
void FlushSettings(std::wstring_view application, std::wstring_view section);

}  // namespace history
