// What the test programs share: clipboard writes, real input, message pumping, scratch folders and
// files.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clip/clipboard.h"
#include "win/module.h"
#include "win/text.h"
#include "win/unique.h"

namespace testsupport {

// Reads --exe=; true when this program was started as a planted system program, after writing its mark.
bool ActAsPlanted(int argc, wchar_t** argv);
// This program copied into folder under a system program's name; started, it writes only its mark.
bool PlantSelf(const std::wstring& folder);
std::wstring PlantedMark(const std::wstring& folder);
std::wstring PellucidorExe();  // the built Pellucidor.exe, as a Windows path
bool StartProcess(std::wstring commandLine, win::UniqueHandle* process = nullptr, DWORD* pid = nullptr);
// Runs xdotool's commands on the session's display, with the keyboard's focus on window. Wine starts
// Linux programs too, with no handle to wait on: wait for the effect.
void Xdotool(HWND window, const std::string& commands);

// One clipboard format: a number, a name to register, or "bitmap" (a small bitmap; no bytes).
struct Item {
  std::wstring format;
  std::string bytes;  // exactly the block, even empty: readers must not trust the platform to end it
};
Item Text(std::wstring_view text);          // Unicode text with its NUL
std::string Bytes(std::wstring_view text);  // UTF-16 bytes
// Puts the items on the clipboard from this thread, one change for all of them, then keeps the
// clipboard open holdMs longer, as a slow program does.
bool Copy(const std::vector<Item>& items, DWORD holdMs = 0);
// Texts "burst <first>".. one change each, spacingMs apart; with everyOtherPrivate every second one
// is "secret <n>", marked for monitors to pass over.
struct Burst {
  unsigned count = 0, spacingMs = 0, first = 1;
  bool everyOtherPrivate = false;
};
bool RunBurst(const Burst& burst);
inline std::wstring ClipboardText() {
  return clip::GetText().value_or(L"<none>");
}

// Dispatches this thread's waiting messages, or waits for the condition while dispatching them.
inline void Pump() {
  win::DoEvents();
}
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

// A fresh empty folder (under base, or the temporary folder), removed with its content.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& base = L"");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring File(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

 private:
  std::wstring path_;
};

std::wstring BigText(size_t n);  // n characters starting "BIG 4567"
// The 8 MB folder that `make test` mounts for the full-disk cases; nullopt where it could not.
std::optional<std::wstring> SmallDisk();
// Fills the disk that holds a folder to the last byte while it lives.
class DiskFiller {
 public:
  explicit DiskFiller(const std::wstring& folder);
  ~DiskFiller() { ::DeleteFileW(path_.c_str()); }
  DiskFiller(const DiskFiller&) = delete;
  DiskFiller& operator=(const DiskFiller&) = delete;

 private:
  std::wstring path_;
};

std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, std::string_view bytes);
// The lines of a log file (its UTF-8 mark left out), split at CR LF.
std::vector<std::string> LogLines(const std::wstring& path);
inline std::string Utf8(std::wstring_view text) {
  return win::WideToBytes(text, CP_UTF8);
}

}  // namespace testsupport
