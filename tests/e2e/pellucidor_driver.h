// Drives the real Pellucidor.exe from outside, as a user would: started from its own folder, its
// list read across processes, its buttons clicked, real clicks and keys given through the X server.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "app/form1.h"
#include "support/test_support.h"
#include "tray/notify_record.h"

namespace e2e {

struct WindowSearch {
  DWORD pid;
  const wchar_t* cls;
  HWND found;
};

inline BOOL CALLBACK MatchWindow(HWND h, LPARAM l) {
  auto* s = reinterpret_cast<WindowSearch*>(l);
  DWORD pid = 0;
  wchar_t cls[64] = {};
  ::GetWindowThreadProcessId(h, &pid);
  ::GetClassNameW(h, cls, 64);
  if (pid != s->pid || std::wcscmp(cls, s->cls) != 0) return TRUE;
  s->found = h;
  return FALSE;
}

// The top-level window of a class that belongs to a process.
inline HWND FindProcessWindow(DWORD pid, const wchar_t* className) {
  WindowSearch s{pid, className, nullptr};
  ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// Memory inside the other process, for messages that carry pointers.
class Remote {
 public:
  Remote(HANDLE process, size_t bytes)
      : process_(process),
        at_(static_cast<char*>(::VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE))) {}
  ~Remote() { ::VirtualFreeEx(process_, at_, 0, MEM_RELEASE); }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;
  template <class T>
  LPARAM Put(const T& value) const {
    ::WriteProcessMemory(process_, at_, &value, sizeof(value), nullptr);
    return reinterpret_cast<LPARAM>(at_);
  }
  void Get(size_t offset, void* data, size_t n) const {
    ::ReadProcessMemory(process_, at_ + offset, data, n, nullptr);
  }
  wchar_t* At(size_t offset) const { return reinterpret_cast<wchar_t*>(at_ + offset); }

 private:
  HANDLE process_;
  char* at_;
};

// Runs an xdotool command line on the display the session uses. Wine starts Linux programs too,
// with no handle to wait on: wait for the effect.
inline void Xdotool(const std::string& command) {
  (void)testsupport::StartProcess(L"Z:\\bin\\sh -c \"/usr/bin/xdotool " +
                                  std::wstring(command.begin(), command.end()) + L" >/dev/null 2>&1\"");
}

class Pellucidor {
 public:
  // Copies the built executable into folder (once) and starts it from there.
  explicit Pellucidor(const std::wstring& folder) : exe_(folder + L"\\Pellucidor.exe") {
    ::CopyFileW(testsupport::PellucidorExe().c_str(), exe_.c_str(), TRUE);
  }
  ~Pellucidor() {
    if (Running() && Close() == STILL_ACTIVE) Kill();
  }
  Pellucidor(const Pellucidor&) = delete;
  Pellucidor& operator=(const Pellucidor&) = delete;

  // Started, with its window ready: start-up ends with joining the viewer chain, then the window
  // takes messages.
  bool Start() {
    hwnd_ = nullptr;
    if (!testsupport::StartProcess(L"\"" + exe_ + L"\"", &process_, &pid_)) return false;
    const bool ready = testsupport::PumpUntil(
        [&] {
          hwnd_ = FindProcessWindow(pid_, app::kFormClass);
          return (hwnd_ && ::GetClipboardViewer() == hwnd_) || !Running();
        },
        20000);
    DWORD_PTR ignored = 0;
    return ready && Running() && ::SendMessageTimeoutW(hwnd_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
  }
  // Asks the window to close and waits for the process to end; returns its exit code.
  DWORD Close() {
    ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(process_.get(), 15000);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
  }
  void Kill() {
    ::TerminateProcess(process_.get(), 99);
    ::WaitForSingleObject(process_.get(), 5000);
  }
  bool Running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

  HWND hwnd() const { return hwnd_; }
  HWND List() const { return ::GetDlgItem(hwnd_, 101); }
  DWORD pid() const { return pid_; }
  size_t Count() const { return static_cast<size_t>(::SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0)); }
  int Selected() const {
    return static_cast<int>(::SendMessageW(List(), LVM_GETNEXTITEM, -1, LVNI_SELECTED));
  }
  std::vector<std::wstring> Texts() const {
    constexpr int kChars = 4096;
    const Remote remote(process_.get(), sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    std::vector<std::wstring> texts(Count());
    for (size_t i = 0; i < texts.size(); ++i) {
      LVITEMW item{};
      item.cchTextMax = kChars;
      item.pszText = remote.At(sizeof(LVITEMW));
      texts[i].resize(static_cast<size_t>(::SendMessageW(List(), LVM_GETITEMTEXTW, i, remote.Put(item))));
      remote.Get(sizeof(LVITEMW), texts[i].data(), texts[i].size() * sizeof(wchar_t));
    }
    return texts;
  }
  bool WaitForRows(size_t n, DWORD timeoutMs = 10000) const {
    return testsupport::PumpUntil([&] { return Count() == n; }, timeoutMs);
  }
  bool WaitForText(const std::wstring& text, DWORD timeoutMs = 10000) const {
    return testsupport::PumpUntil(
        [&] {
          const auto texts = Texts();
          return std::find(texts.begin(), texts.end(), text) != texts.end();
        },
        timeoutMs);
  }
  void Click(int buttonId) const { ::SendMessageW(::GetDlgItem(hwnd_, buttonId), BM_CLICK, 0, 0); }
  // Minimises the window, as the user does to hide it in the tray; true once it is hidden.
  bool MinimiseToTray() const {
    ::ShowWindow(hwnd_, SW_MINIMIZE);
    return testsupport::PumpUntil([&] { return !::IsWindowVisible(hwnd_); });
  }
  // Real input: the pointer moved onto a row (-1: below the last one), then xdotool's commands
  // there ("click 1 key Return") or a double-click, with the keyboard's focus on window (the program's own if
  // null).
  void Input(int row, const std::string& commands, HWND window = nullptr) const {
    RECT r{LVIR_BOUNDS, 0, 0, 0};
    const Remote remote(process_.get(), sizeof(RECT));
    if (row < 0) {
      ::GetClientRect(List(), &r);
      r.top = r.bottom - 16;
    } else {
      ::SendMessageW(List(), LVM_GETITEMRECT, row, remote.Put(r));
      remote.Get(0, &r, sizeof(r));
    }
    POINT at{r.left + 20, (r.top + r.bottom) / 2};
    if (commands == "double-click") {  // as messages: two real clicks may be too far apart on a busy machine
      for (const UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        ::SendMessageW(List(), m, m == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(at.x, at.y));
      return;
    }
    ::ClientToScreen(List(), &at);
    // Wine keeps the id of a window's X window among its properties.
    const auto x =
        reinterpret_cast<uintptr_t>(::GetPropW(window ? window : hwnd_, L"__wine_x11_whole_window"));
    Xdotool("windowfocus --sync " + std::to_string(x) +
            (window ? " " : " mousemove --sync " + std::to_string(at.x) + " " + std::to_string(at.y) + " ") +
            commands);
  }
  // Releases the right button on the tray icon, as the shell reports it; the menu it opens, or null.
  HWND OpenTrayMenu() const {
    ::PostMessageW(FindProcessWindow(pid_, L"PellucidorTrayControl"), tray::kTrayCallbackMessage, 0,
                   WM_RBUTTONUP);
    HWND menu = nullptr;
    (void)testsupport::PumpUntil(
        [&] { return (menu = FindProcessWindow(pid_, L"#32768")) && ::IsWindowVisible(menu); });
    return menu;
  }

 private:
  std::wstring exe_;
  win::UniqueHandle process_;
  DWORD pid_ = 0;
  HWND hwnd_ = nullptr;
};

}  // namespace e2e
