#include "startup/regstuff.h"

#include <cwchar>

#include "startup/run_value.h"
#include "win/module.h"
#include "win/unique.h"

namespace RegStuff {
namespace {

win::UniqueHkey OpenKey(HKEY root, std::wstring_view subKey) {
  HKEY raw = nullptr;
  const std::wstring path(subKey);
  if (::RegOpenKeyExW(root, path.c_str(), 0, kKeyAccess, &raw) != ERROR_SUCCESS) return {};
  return win::UniqueHkey(raw);
}

std::wstring AsText(const RegValue& v) {
  if (const auto* s = std::get_if<std::wstring>(&v)) return *s;
  return std::to_wstring(std::get<int32_t>(v));
}

int32_t AsNumber(const RegValue& v) {
  if (const auto* n = std::get_if<int32_t>(&v)) return *n;
  return static_cast<int32_t>(std::wcstol(std::get<std::wstring>(v).c_str(), nullptr, 10));
}

}  // namespace

LONG WriteRegValue(HKEY key, std::wstring_view name, DWORD type, const RegValue& value) {
  const std::wstring valueName(name);
  if (type == REG_SZ) {
    // The whole text with its terminating NUL, counted in bytes.
    const std::wstring text = AsText(value);
    return ::RegSetValueExW(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  if (type == REG_DWORD) {
    const int32_t number = AsNumber(value);
    const BYTE bytes[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                           static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
    return ::RegSetValueExW(key, valueName.c_str(), 0, REG_DWORD, bytes, 4);
  }
  return 0;
}

bool SetRegValue(HKEY root, std::wstring_view subKey, std::wstring_view name, const RegValue& value,
                 DWORD type) {
  win::UniqueHkey key = OpenKey(root, subKey);
  if (!key) return false;
  (void)WriteRegValue(key.get(), name, type, value);  // status dropped by design
  return true;
}

void DeleteRegValue(HKEY root, std::wstring_view subKey, std::wstring_view name) {
  win::UniqueHkey key = OpenKey(root, subKey);
  if (!key) return;
  const std::wstring valueName(name);
  (void)::RegDeleteValueW(key.get(), valueName.c_str());  // a missing value is no error here
}

void SetRunValue(std::wstring_view name, const RunKeys& keys) {
  const std::wstring data = startup::RunValueData(win::ProgramFolder(), name);
  if (SetRegValue(keys.machineRoot, keys.machineSubKey, name, data, REG_SZ)) return;
  // Without write access to the machine-wide key, the user's own Run key still starts the program.
  HKEY raw = nullptr;
  if (::RegCreateKeyExW(keys.userRoot, keys.userSubKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS) {
    return;
  }
  win::UniqueHkey key(raw);
  (void)WriteRegValue(key.get(), name, REG_SZ, data);
}

void DeleteRunValue(std::wstring_view name, const RunKeys& keys) {
  DeleteRegValue(keys.machineRoot, keys.machineSubKey, name);
  DeleteRegValue(keys.userRoot, keys.userSubKey, name);
}

}  // namespace RegStuff
