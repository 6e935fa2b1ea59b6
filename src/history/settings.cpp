#include "history/settings.h"

#include "win/unique.h"

namespace history {

std::wstring SettingsKeyPath(std::wstring_view application, std::wstring_view section) {
  std::wstring path = L"Software\\VB and VBA Program Settings\\";
  path += application;
  path += L'\\';
  path += section;
  return path;
}

std::wstring GetSetting(std::wstring_view application, std::wstring_view section, std::wstring_view key,
                        std::wstring_view defaultValue) {
  const std::wstring path = SettingsKeyPath(application, section);
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) {
    return std::wstring(defaultValue);
  }
  win::UniqueHkey k(raw);
  const std::wstring name(key);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, bytes = 0;
    if (::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
      return std::wstring(defaultValue);
    }
    std::wstring value((bytes + 1) / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    const LONG rc = ::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(value.data()), &got);
    if (rc == ERROR_MORE_DATA) continue;  // grew meanwhile
    if (rc != ERROR_SUCCESS) return std::wstring(defaultValue);
    value.resize(got / sizeof(wchar_t));
    // Only the terminating NULs go: whatever a damaged value holds beyond an inner NUL is kept.
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
  }
  return std::wstring(defaultValue);
}

bool SaveSetting(std::wstring_view application, std::wstring_view section, std::wstring_view key,
                 const std::wstring& value) {
  const std::wstring path = SettingsKeyPath(application, section);
  HKEY raw = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  win::UniqueHkey k(raw);
  const std::wstring name(key);
  return ::RegSetValueExW(k.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void FlushSettings(std::wstring_view application, std::wstring_view section) {
  const std::wstring path = SettingsKeyPath(application, section);
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) return;
  win::UniqueHkey k(raw);
  (void)::RegFlushKey(k.get());  // best effort: the value is written either way
}

}  // namespace history
