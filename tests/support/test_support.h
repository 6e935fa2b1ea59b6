// What the test programs share: a clipboard writer in another process (the test program itself,
// started with --helper), message pumping, scratch folders and files.
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
inline constexpr wchar_t kPlantedName[] = L"notepad.exe";
bool PlantSelf(const std::wstring& folder);
inline std::wstring PlantedMark(const std::wstring& folder) {
  return folder + L"\\planted program ran";
}

// The built Pellucidor.exe (end-to-end tests), as a Windows path.
std::wstring PellucidorExe();
std::wstring SelfPath();
// A hidden top-level window of its own class, handled by proc.
win::UniqueHwnd WindowOfProc(const wchar_t* className, WNDPROC proc);

// Puts content on the clipboard from another process, one clipboard change for all items:
//   text=HEX  rtf=HEX  bitmap  dib  files=HEX (names separated by '|')  mark=HEXNAME  dword=HEXNAME:VALUE
//   raw=FORMAT:HEXBYTES  ansitext=HEX  big=CHARS (a text "BIG 0123..." of that length)
//   hold=MS (keep the clipboard open that long afterwards)
// HEX is the UTF-16 text in hexadecimal, four digits a character (see Hex).
bool ClipboardFromOtherProcess(const std::vector<std::wstring>& items);
// Texts "burst <first>" to "burst <first + count - 1>" put on the clipboard by another process,
// spacingMs apart; with everyOtherPrivate, every even-numbered copy is "secret <n>" instead, marked
// for clipboard monitors to pass over.
struct Burst {
  unsigned count = 0, spacingMs = 0, first = 1;
  bool everyOtherPrivate = false;
};
bool BurstFromOtherProcess(const Burst& burst);
// The same without waiting for it: the helper's process.
win::UniqueHandle StartBurst(const Burst& burst);
// Starts a command line; its process handle and id go where asked.
bool StartProcess(std::wstring commandLine, win::UniqueHandle* process = nullptr, DWORD* pid = nullptr);
// Runs this program again in a helper mode and waits for it, answering messages meanwhile.
bool RunSelf(const std::wstring& mode, const std::vector<std::wstring>& args);

// A clipboard viewer in another process: joins the chain, passes every notification on and keeps
// its link right, leaves after lifeMs. Its exit code is the number of changes it was told of.
// With hangMs it stops answering that long whenever it is told of a change.
class ViewerProcess {
 public:
  explicit ViewerProcess(DWORD lifeMs, DWORD hangMs = 0);
  ~ViewerProcess();
  ViewerProcess(const ViewerProcess&) = delete;
  ViewerProcess& operator=(const ViewerProcess&) = delete;
  // Waits, answering messages meanwhile, until the viewer has joined (it is then first).
  bool WaitJoined();
  // Waits, answering messages meanwhile, for the viewer to leave and end; returns its count.
  int WaitEnd();

 private:
  win::UniqueHandle process_;
};
std::wstring Hex(std::wstring_view text);
std::wstring HexBytes(std::string_view bytes);

// Dispatches this thread's messages for a while, or until the condition holds.
void PumpFor(DWORD ms);
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

// A fresh empty folder under the temporary folder; removed with everything in it by the owner.
class TempFolder {
 public:
  TempFolder();
  // A folder inside base (which ends without a backslash).
  explicit TempFolder(const std::wstring& base);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring File(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

 private:
  std::wstring path_;
};

// Measures how long a window takes to answer, from another thread, for as long as it lives: the
// longest wait is the longest time the window did not answer.
class AnswerProbe {
 public:
  explicit AnswerProbe(HWND window);
  ~AnswerProbe();
  AnswerProbe(const AnswerProbe&) = delete;
  AnswerProbe& operator=(const AnswerProbe&) = delete;
  // The longest so far, then starts measuring afresh.
  double TakeLongestMs();

 private:
  static DWORD WINAPI Run(void* self);
  HWND window_;
  volatile LONG stop_ = 0;
  volatile LONG longestUs_ = 0;
  win::UniqueHandle thread_;
};

// Prints, for the test that runs, the longest time a window did not answer.
void ReportSilence(const char* window, double ms);

// The text that the helper's "big=n" puts on the clipboard: n characters starting "BIG 4567".
std::wstring BigText(size_t n);

// The size-limited folder that `make test` mounts for the full-disk cases (8 MB), as a Windows
// path; nullopt where it could not be mounted.
std::optional<std::wstring> SmallDisk();

// Fills the disk that holds a folder to the last byte while it lives.
class DiskFiller {
 public:
  explicit DiskFiller(const std::wstring& folder);
  ~DiskFiller();
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

// The clipboard's Unicode text, read directly.
std::wstring ClipboardText();

void DeleteRegistryTree(HKEY root, const std::wstring& path);

}  // namespace testsupport
