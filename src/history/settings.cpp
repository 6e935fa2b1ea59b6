#include "history/settings.h"

#include <cwchar>

#include "win/unique.h"

namespace history {

std::wstring SettingsKeyPath(std::wstring_view application, std::wstring_view section) {
  std::wstring path = L"Software\\VB and VBA Program Settings\\";
  path += application;
  path += L'\\';
  path += section;
  return path;
}

Settings::Settings(std::wstring keyPath)
    : keyPath_(keyPath.empty() ? SettingsKeyPath(kSettingsApp, kSettingsSection) : std::move(keyPath)) {}

SettingRead Settings::Read(std::wstring_view key) const {
  HKEY raw = nullptr;
  const LSTATUS opened = ::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_QUERY_VALUE, &raw);
  if (opened == ERROR_FILE_NOT_FOUND) return {SettingRead::kAbsent, {}};
  if (opened != ERROR_SUCCESS) return {SettingRead::kUnreadable, {}};
  win::UniqueHkey k(raw);
  const std::wstring name(key);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, bytes = 0;
    const LSTATUS asked = ::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &bytes);
    if (asked == ERROR_FILE_NOT_FOUND) return {SettingRead::kAbsent, {}};
    if (asked != ERROR_SUCCESS && asked != ERROR_MORE_DATA) return {SettingRead::kUnreadable, {}};
    // There, but not a text: nothing that could be read as one, and nothing to replace either.
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {SettingRead::kUnreadable, {}};
    std::wstring value((bytes + 1) / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    const LSTATUS rc = ::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type,
                                          reinterpret_cast<BYTE*>(value.data()), &got);
    if (rc == ERROR_MORE_DATA) continue;  // grew meanwhile
    if (rc == ERROR_FILE_NOT_FOUND) return {SettingRead::kAbsent, {}};
    if (rc != ERROR_SUCCESS) return {SettingRead::kUnreadable, {}};
    value.resize(got / sizeof(wchar_t));
    // Only the terminating NULs go: whatever a damaged value holds beyond an inner NUL is kept.
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return {SettingRead::kFound, std::move(value)};
  }
  return {SettingRead::kUnreadable, {}};
}

SettingInfo Settings::Query(std::wstring_view key) const {
  HKEY raw = nullptr;
  const LSTATUS opened = ::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_QUERY_VALUE, &raw);
  if (opened == ERROR_FILE_NOT_FOUND) return {};
  if (opened != ERROR_SUCCESS) return {SettingInfo::kUnreadable, false, 0, opened};
  const win::UniqueHkey k(raw);
  DWORD type = 0, bytes = 0;
  const LSTATUS asked =
      ::RegQueryValueExW(k.get(), std::wstring(key).c_str(), nullptr, &type, nullptr, &bytes);
  if (asked == ERROR_FILE_NOT_FOUND) return {};
  if (asked != ERROR_SUCCESS && asked != ERROR_MORE_DATA) return {SettingInfo::kUnreadable, false, 0, asked};
  FILETIME written{};
  const uint64_t stamp = ::RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, &written) == ERROR_SUCCESS
                             ? static_cast<uint64_t>(written.dwHighDateTime) << 32 | written.dwLowDateTime
                             : 0;
  return {SettingInfo::kFound, type == REG_SZ || type == REG_EXPAND_SZ, bytes, 0, stamp};
}

bool Settings::KeepAside(std::wstring_view key) const {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &raw) !=
      ERROR_SUCCESS)
    return false;
  const win::UniqueHkey k(raw);
  const std::wstring name(key);
  DWORD type = 0;
  std::string data;
  for (int attempt = 0;; ++attempt) {
    DWORD bytes = 0;
    if (attempt == 4 ||
        ::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
      return false;
    data.resize(bytes);
    const LSTATUS rc = ::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type,
                                          reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (rc == ERROR_MORE_DATA) continue;  // grew meanwhile
    if (rc != ERROR_SUCCESS) return false;
    data.resize(bytes);
    break;
  }
  // FNV-1a: the same bytes are kept under the same name, once.
  uint64_t hash = 0xCBF29CE484222325ull ^ type;
  for (const char c : data) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  wchar_t digits[17];
  (void)swprintf(digits, 17, L"%016llx", static_cast<unsigned long long>(hash));
  return ::RegSetValueExW(k.get(), (name + L".kept." + digits).c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool Settings::Save(std::wstring_view key, const std::wstring& value) const {
  const size_t bytes = (value.size() + 1) * sizeof(wchar_t);
  if (bytes > MAXDWORD) return false;  // never a value cut short
  HKEY raw = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  win::UniqueHkey k(raw);
  const std::wstring name(key);
  return ::RegSetValueExW(k.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(bytes)) == ERROR_SUCCESS;
}

void Settings::Flush() const {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) return;
  win::UniqueHkey k(raw);
  (void)::RegFlushKey(k.get());  // best effort: the value is written either way
}

std::wstring GetSetting(const Settings& where, std::wstring_view key, std::wstring_view defaultValue) {
  SettingRead read = where.Read(key);
  return read.state == SettingRead::kFound ? std::move(read.value) : std::wstring(defaultValue);
}

std::wstring GetSetting(std::wstring_view application, std::wstring_view section, std::wstring_view key,
                        std::wstring_view defaultValue) {
  return GetSetting(Settings(SettingsKeyPath(application, section)), key, defaultValue);
}

bool SaveSetting(const Settings& where, std::wstring_view key, const std::wstring& value) {
  return where.Save(key, value);
}

bool SaveSetting(std::wstring_view application, std::wstring_view section, std::wstring_view key,
                 const std::wstring& value) {
  return Settings(SettingsKeyPath(application, section)).Save(key, value);
}

}  // namespace history
