#include "clip/save_log.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdint>

#include "win/append.h"
#include "win/module.h"
#include "win/text.h"
#include "win/unique.h"

namespace clip {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

std::wstring PrimaryLogPath(const LogLocations& where) {
  std::wstring folder = where.primaryFolder.empty() ? win::ProgramFolder() : where.primaryFolder;
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  return folder + kLogFileName;
}

std::wstring FallbackFolder(const LogLocations& where) {
  if (!where.fallbackFolder.empty()) return where.fallbackFolder;
  PWSTR local = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local))) folder = local;
  ::CoTaskMemFree(local);
  return folder.empty() ? folder : folder + L"\\Kestrelay\\Pellucidor";
}

std::wstring FallbackLogPath(const LogLocations& where) {
  return FallbackFolder(where) + L"\\" + kLogFileName;
}

// Opened for writing as well as appending, so that a line cut short by a full disk can be taken
// back (AppendWhole writes at the end itself).
win::UniqueFile OpenForAppend(const std::wstring& path) {
  return win::UniqueFile(::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool IsNotWritableError(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT || error == ERROR_PATH_NOT_FOUND;
}

// A log the program starts is UTF-8 with a byte order mark; a log that exists without the mark
// is continued in the ANSI code page, so that one file never mixes the two. The line goes out a
// slice at a time: a huge entry is never held twice over as bytes.
bool AppendLine(HANDLE file, std::initializer_list<std::wstring_view> parts) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) return false;
  bool utf8 = true;
  win::WholeAppend line(file);
  if (size.QuadPart == 0) {
    (void)line.Write(kUtf8Bom);
  } else {
    char head[3] = {};
    DWORD got = 0;
    OVERLAPPED at{};
    utf8 = ::ReadFile(file, head, 3, &got, &at) && got == 3 && std::string_view(head, 3) == kUtf8Bom;
    // A line that a crash cut short is ended, or this one would be joined to it.
    char last = '\n';
    const auto end = static_cast<uint64_t>(size.QuadPart) - 1;
    at.Offset = static_cast<DWORD>(end);
    at.OffsetHigh = static_cast<DWORD>(end >> 32);
    if (!(utf8 && size.QuadPart == 3) && ::ReadFile(file, &last, 1, &got, &at) && got == 1 && last != '\n')
      (void)line.Write("\r\n");
  }
  const unsigned codePage = utf8 ? win::kUtf8CodePage : win::kAnsiCodePage;
  constexpr size_t kSlice = 1u << 16;
  for (std::wstring_view part : parts) {
    while (!part.empty()) {
      size_t n = std::min(part.size(), kSlice);
      // Never between the two halves of a surrogate pair.
      if (n < part.size() && IS_HIGH_SURROGATE(part[n - 1]) && IS_LOW_SURROGATE(part[n])) --n;
      (void)line.Write(win::WideToBytes(part.substr(0, n), codePage));
      part.remove_prefix(n);
    }
  }
  (void)line.Write("\r\n");
  return line.Commit();
}

}  // namespace

std::wstring DateTimeText(const SYSTEMTIME& t) {
  wchar_t date[128] = {}, time[128] = {};
  ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, 128, nullptr);
  if (t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0) return date;
  ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &t, nullptr, time, 128);
  return std::wstring(date) + L" " + time;
}

std::wstring NowText() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return DateTimeText(t);
}

std::wstring LogTimeText(const SYSTEMTIME& when) {
  return DateTimeText(when);
}

bool WriteLogLine(std::wstring_view line, const LogLocations& where) {
  return WriteLogLine({line}, where);
}

bool WriteLogLine(std::initializer_list<std::wstring_view> parts, const LogLocations& where) {
  win::UniqueFile file = OpenForAppend(PrimaryLogPath(where));
  if (!file && IsNotWritableError(::GetLastError())) {
    const std::wstring folder = FallbackFolder(where);
    if (folder.empty()) return false;
    (void)::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);  // may exist already
    file = OpenForAppend(FallbackLogPath(where));
  }
  return file && AppendLine(file.get(), parts);
}

std::wstring LogPathInUse(const LogLocations& where) {
  const std::wstring primary = PrimaryLogPath(where);
  // Ask the file system whether the program's folder takes the log, without leaving a file behind.
  win::UniqueFile probe(::CreateFileW(primary.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (probe) return primary;
  DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) {
    win::UniqueFile trial(::CreateFileW(primary.c_str(), FILE_APPEND_DATA, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (trial) return primary;
    error = ::GetLastError();
  }
  return IsNotWritableError(error) ? FallbackLogPath(where) : primary;
}

}  // namespace clip
