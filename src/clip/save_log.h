// The save log "backups.log": one time-stamped line per event, appended and never rewritten.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace clip {

inline constexpr wchar_t kLogFileName[] = L"backups.log";

// Phrases of the log lines.
inline constexpr wchar_t kAddedPhrase[] = L" was added to clipboard entries at ";
inline constexpr wchar_t kPutPhrase[] = L" was put to clipboard at ";
inline constexpr wchar_t kClearedPhrase[] = L"Clipboard was clear at ";

// The current local date and time as the log writes it: the user's short date, a blank and the
// user's long time; at exactly midnight the date alone.
std::wstring DateTimeText(const SYSTEMTIME& t);
std::wstring NowText();
// The time of an event that happened at when, as the log writes it.
std::wstring LogTimeText(const SYSTEMTIME& when);

// Where the log goes.
struct LogLocations {
  std::wstring primaryFolder;   // empty: the program's folder
  std::wstring fallbackFolder;  // empty: %LOCALAPPDATA%\Kestrelay\Pellucidor
};

// Appends the line and CR LF. Returns false when the line could not be written.
bool WriteLogLine(std::wstring_view line, const LogLocations& where = {});
// The same for a line given in parts, which are written one after another.
bool WriteLogLine(std::initializer_list<std::wstring_view> parts, const LogLocations& where = {});

// The log in use: "backups.log" in the program's folder, or in the per-user data folder when the
// program's folder is not writable.
std::wstring LogPathInUse(const LogLocations& where = {});

}  // namespace clip
