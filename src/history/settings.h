// The per-user settings store: string values under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<application>\<section>, or under another
// key of the user's that a caller names (the tests' scratch key).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace history {

inline constexpr wchar_t kSettingsApp[] = L"Kestrelay";
inline constexpr wchar_t kSettingsSection[] = L"Pellucidor";

std::wstring SettingsKeyPath(std::wstring_view application, std::wstring_view section);

// A value as read: absent is not the same as there but unreadable (or not a string), which must
// never be taken for an absent value.
struct SettingRead {
  enum State { kFound, kAbsent, kUnreadable } state = kAbsent;
  std::wstring value;
};

// A value as asked for, without reading it.
struct SettingInfo {
  enum State { kFound, kAbsent, kUnreadable } state = kAbsent;
  bool text = false;  // a string
  uint64_t bytes = 0;
  long error = 0;      // why it is unreadable
  uint64_t stamp = 0;  // the section's last write
};

// One section of the store.
class Settings {
 public:
  // keyPath under HKEY_CURRENT_USER; empty: the program's own section.
  explicit Settings(std::wstring keyPath = {});
  const std::wstring& keyPath() const { return keyPath_; }

  SettingRead Read(std::wstring_view key) const;
  SettingInfo Query(std::wstring_view key) const;
  // Copies a value as it is, whatever its type, beside it as "<key>.kept.<hash of its bytes>".
  bool KeepAside(std::wstring_view key) const;
  // Creates or replaces the value. Returns false when the store refused it.
  bool Save(std::wstring_view key, const std::wstring& value) const;
  // Asks the store to put the section's values on disk now, before anything relies on them there.
  void Flush() const;

 private:
  std::wstring keyPath_;
};

// The stored string, or the default when the value is absent, not a string or unreadable.
std::wstring GetSetting(const Settings& where, std::wstring_view key, std::wstring_view defaultValue);
std::wstring GetSetting(std::wstring_view application, std::wstring_view section, std::wstring_view key,
                        std::wstring_view defaultValue);
bool SaveSetting(const Settings& where, std::wstring_view key, const std::wstring& value);
bool SaveSetting(std::wstring_view application, std::wstring_view section, std::wstring_view key,
                 const std::wstring& value);

}  // namespace history
