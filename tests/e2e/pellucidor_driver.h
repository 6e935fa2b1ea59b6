// Drives the real Pellucidor.exe from outside, as a user would: started from its own folder, its
// list read across processes, its window closed or the process killed.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "app/form1.h"
#include "support/test_support.h"
#include "tray/notify_record.h"

namespace e2e {

// The top-level window of a class that belongs to a process.
inline HWND FindProcessWindow(DWORD pid, const wchar_t* className) {
  for (HWND h = nullptr; (h = ::FindWindowExW(nullptr, h, className, nullptr)) != nullptr;) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(h, &owner);
    if (owner == pid) return h;
  }
  return nullptr;
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
    if (!testsupport::StartProcess(L"\"" + exe_ + L"\"", &process_, &pid_)) return false;
    const bool ready = testsupport::PumpUntil(
        [&] {
          return ((hwnd_ = FindProcessWindow(pid_, app::kFormClass)) && ::GetClipboardViewer() == hwnd_) ||
                 !Running();
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
