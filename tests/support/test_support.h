// What the test programs share: clipboard writers in other processes (the test program itself,
// started in a helper mode), message pumping, scratch folders and files.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win/unique.h"

namespace testsupport {

void ParseArguments(int argc, wchar_t** argv);
// Runs the helper when the program was started as one; returns true (and the exit code) then.
bool RunHelperIfAsked(int argc, wchar_t** argv, int& exitCode);

// This program copied into folder under a system program's name; started, it writes only its mark.
bool PlantSelf(const std::wstring& folder);
std::wstring PlantedMark(const std::wstring& folder);

// The built Pellucidor.exe (end-to-end tests), as a Windows path.
std::wstring PellucidorExe();
std::wstring SelfPath();
win::UniqueHwnd WindowOfProc(const wchar_t* className, WNDPROC proc);

// One clipboard format for Copy: FORMAT:HEXBYTES, FORMAT a number or a name to register; with no
// bytes an empty block, with "-" a format offered and never rendered. Also "bitmap", "big=CHARS"
// (BigText) and "hold=MS" (the clipboard kept open that long afterwards).
std::wstring Format(const std::wstring& format, std::string_view bytes);
std::wstring Text(std::wstring_view text);  // Unicode text with its NUL
std::string Bytes(std::wstring_view text);  // UTF-16 bytes
// Puts the items on the clipboard from another process, one change for all of them.
bool Copy(const std::vector<std::wstring>& items);
win::UniqueHandle StartCopy(const std::vector<std::wstring>& items);  // without waiting
// Texts "burst <first>".. one change each, spacingMs apart, from another process; with
// everyOtherPrivate each even one is "secret <n>", marked for monitors to pass over.
struct Burst {
  unsigned count = 0, spacingMs = 0, first = 1;
  bool everyOtherPrivate = false;
};
bool RunBurst(const Burst& burst);
win::UniqueHandle StartBurst(const Burst& burst);
// A clipboard viewer in another process, joined when this returns, that stops answering at each
// change until released (30 s at most); released, it leaves the chain and ends.
win::UniqueHandle StartHungViewer();
void ReleaseHungViewer(const win::UniqueHandle& viewer);
bool StartProcess(std::wstring commandLine, win::UniqueHandle* process = nullptr, DWORD* pid = nullptr);

std::wstring HexBytes(std::string_view bytes);
// Dispatches this thread's waiting messages, or waits for the condition while dispatching them.
void Pump();
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

// Measures from another thread the longest time a window took to answer.
class AnswerProbe {
 public:
  explicit AnswerProbe(HWND window);
  ~AnswerProbe();
  AnswerProbe(const AnswerProbe&) = delete;
  AnswerProbe& operator=(const AnswerProbe&) = delete;
  // Prints the longest time, for the running test: machines differ, so nothing asserts it.
  void Report(const char* window);

 private:
  static DWORD WINAPI Run(void* self);
  HWND window_;
  volatile LONG stop_ = 0;
  volatile LONG longestUs_ = 0;
  win::UniqueHandle thread_;
};

// n characters starting "BIG 4567".
std::wstring BigText(size_t n);

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
// The lines of a log file (its UTF-8 mark left out), split at CR LF.
std::vector<std::string> LogLines(const std::wstring& path);
bool WriteBytes(const std::wstring& path, std::string_view bytes);
std::string Utf8(std::wstring_view text);
std::wstring ClipboardText();

}  // namespace testsupport
