// Drives the real Pellucidor.exe from outside, as a user would: started from its own folder, its
// list read across processes, its buttons clicked, its window closed.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <commctrl.h>

#include <algorithm>

#include "app/form1.h"
#include "support/test_support.h"
#include "tray/notify_record.h"
#include "win/unique.h"

namespace e2e {

namespace detail {

// A block of memory inside the other process, for messages that carry pointers.
class RemoteBlock {
 public:
  RemoteBlock(HANDLE process, size_t bytes)
      : process_(process), p_(::VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE)) {}
  ~RemoteBlock() {
    if (p_) ::VirtualFreeEx(process_, p_, 0, MEM_RELEASE);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;
  void* get() const { return p_; }
  char* at(size_t offset) const { return static_cast<char*>(p_) + offset; }
  void Write(size_t offset, const void* data, size_t n) const {
    ::WriteProcessMemory(process_, at(offset), data, n, nullptr);
  }
  void Read(size_t offset, void* data, size_t n) const {
    ::ReadProcessMemory(process_, at(offset), data, n, nullptr);
  }

 private:
  HANDLE process_;
  void* p_;
};

struct FindData {
  DWORD pid;
  const wchar_t* cls;
  HWND found;
};

inline BOOL CALLBACK FindProc(HWND h, LPARAM l) {
  auto* d = reinterpret_cast<FindData*>(l);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(h, &pid);
  wchar_t cls[64] = {};
  ::GetClassNameW(h, cls, 64);
  if (pid == d->pid && wcscmp(cls, d->cls) == 0) {
    d->found = h;
    return FALSE;
  }
  return TRUE;
}

// Runs xdotool commands one after another on the display the session uses. Wine starts Linux
// programs too, but with no handle to wait on.
inline void RunXdotool(const std::vector<std::string>& commands) {
  std::wstring script;
  for (const std::string& c : commands)
    script += L"/usr/bin/xdotool " + std::wstring(c.begin(), c.end()) + L"; ";
  (void)testsupport::StartProcess(L"Z:\\bin\\sh -c \"(" + script + L") >/dev/null 2>&1\"");
}

// Gives a window the X server's keyboard focus; Wine keeps the id of its X window among its properties.
inline std::string FocusCommand(HWND window) {
  const auto x = reinterpret_cast<uintptr_t>(::GetPropW(window, L"__wine_x11_whole_window"));
  return "windowfocus --sync " + std::to_string(x);
}

}  // namespace detail

// Whether real input can be given: under Wine, with xdotool installed.
inline bool HasRealInput() {
  return ::GetFileAttributesW(L"Z:\\usr\\bin\\xdotool") != INVALID_FILE_ATTRIBUTES;
}

// The top-level window of a class that belongs to a process.
inline HWND FindProcessWindow(DWORD pid, const wchar_t* className) {
  detail::FindData d{pid, className, nullptr};
  ::EnumWindows(detail::FindProc, reinterpret_cast<LPARAM>(&d));
  return d.found;
}

struct Row {
  std::wstring text, type;
  bool operator==(const Row&) const = default;
};

class Pellucidor {
 public:
  // Copies the built executable into folder (once) and starts it from there.
  explicit Pellucidor(const std::wstring& folder) : exe_(folder + L"\\Pellucidor.exe") {
    if (::GetFileAttributesW(exe_.c_str()) == INVALID_FILE_ATTRIBUTES) {
      ::CopyFileW(testsupport::PellucidorExe().c_str(), exe_.c_str(), TRUE);
    }
  }
  ~Pellucidor() {
    if (Running()) {
      if (Close() == STILL_ACTIVE) Kill();
    }
  }
  Pellucidor(const Pellucidor&) = delete;
  Pellucidor& operator=(const Pellucidor&) = delete;

  bool Start() {
    hwnd_ = nullptr;
    if (!testsupport::StartProcess(L"\"" + exe_ + L"\"", &process_, &pid_)) return false;
    for (int i = 0; i < 200 && !hwnd_; ++i) {
      hwnd_ = FindProcessWindow(pid_, app::kFormClass);
      if (!hwnd_) {
        if (::WaitForSingleObject(process_.get(), 50) == WAIT_OBJECT_0) return false;
      }
    }
    if (!hwnd_) return false;
    // Start-up ends with joining the clipboard-viewer chain; then the window is shown and takes
    // messages, so an answer to a sent message means it is ready.
    for (int i = 0; i < 200 && ::GetClipboardViewer() != hwnd_; ++i) ::Sleep(25);
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutW(hwnd_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored)) return false;
    probe_ = std::make_unique<testsupport::AnswerProbe>(hwnd_);
    return true;
  }
  // Asks the window to close and waits for the process to end; returns its exit code.
  DWORD Close() {
    if (!process_) return 0;
    if (probe_) probe_->Report("the program's window");
    probe_.reset();
    ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(process_.get(), 15000);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.get(), &code);
    if (code != STILL_ACTIVE) process_.reset();
    return code;
  }
  void Kill() {
    if (!process_) return;
    if (probe_) probe_->Report("the program's window");
    probe_.reset();
    ::TerminateProcess(process_.get(), 99);
    ::WaitForSingleObject(process_.get(), 5000);
    process_.reset();
  }
  bool Running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

  HWND hwnd() const { return hwnd_; }
  HWND Control(int id) const { return ::GetDlgItem(hwnd_, id); }
  HWND List() const { return Control(101); }
  HWND TrayWindow() const { return FindProcessWindow(pid_, L"PellucidorTrayControl"); }
  DWORD pid() const { return pid_; }
  const std::wstring& exe() const { return exe_; }

  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    const HWND list = List();
    const int n = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    constexpr size_t kChars = 4096;
    detail::RemoteBlock remote(process_.get(), sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    for (int i = 0; i < n; ++i) {
      Row row;
      for (int sub = 0; sub < 2; ++sub) {
        LVITEMW item{};
        item.iSubItem = sub;
        item.cchTextMax = kChars;
        item.pszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(LVITEMW)));
        remote.Write(0, &item, sizeof(item));
        const int len = static_cast<int>(
            ::SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(remote.get())));
        std::wstring text(static_cast<size_t>(len), L'\0');
        if (len > 0) remote.Read(sizeof(LVITEMW), text.data(), len * sizeof(wchar_t));
        (sub == 0 ? row.text : row.type) = text;
      }
      rows.push_back(row);
    }
    return rows;
  }
  std::vector<std::wstring> Texts() const {
    std::vector<std::wstring> texts;
    for (const Row& r : Rows()) texts.push_back(r.text);
    return texts;
  }
  void SelectRow(int index) const {
    detail::RemoteBlock remote(process_.get(), sizeof(LVITEMW));
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    remote.Write(0, &item, sizeof(item));
    ::SendMessageW(List(), LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(remote.get()));
  }
  void DoubleClickRow(int index) const {
    const POINT p = RowPoint(index);
    const LPARAM at = MAKELPARAM(p.x, p.y);
    ::SendMessageW(List(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(List(), WM_LBUTTONUP, 0, at);
    ::SendMessageW(List(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    ::SendMessageW(List(), WM_LBUTTONUP, 0, at);
  }
  // Minimises the window, as the user does to hide it in the tray; true once it is hidden.
  bool MinimiseToTray() const {
    ::ShowWindow(hwnd_, SW_MINIMIZE);
    return testsupport::PumpUntil([&] { return !::IsWindowVisible(hwnd_); });
  }
  void Click(int buttonId) const { ::SendMessageW(Control(buttonId), BM_CLICK, 0, 0); }
  // Real input through the X server, for what only it gives: the keyboard's focus and Ctrl held as
  // a user holds it. Each step clicks a row (-1: below the last one) and presses keys (xdotool's
  // names). Nothing tells when it is done: wait for the effect.
  struct ClickAndKeys {
    int row;
    const char* keys;
  };
  void Press(const std::vector<ClickAndKeys>& steps) const {
    std::vector<std::string> commands = {detail::FocusCommand(hwnd_)};
    for (const ClickAndKeys& step : steps) {
      POINT at = RowPoint(step.row);
      ::ClientToScreen(List(), &at);
      commands.push_back("mousemove --sync " + std::to_string(at.x) + " " + std::to_string(at.y) +
                         " click 1");
      commands.push_back(std::string("key ") + step.keys);
    }
    detail::RunXdotool(commands);
  }
  // Keys to a window that takes them itself, such as an open menu.
  void Press(HWND window, const char* keys) const {
    detail::RunXdotool({detail::FocusCommand(window), std::string("key ") + keys});
  }
  // Releases the right button on the tray icon, as the shell reports it; the menu it opens, or null.
  HWND OpenTrayMenu() const {
    ::PostMessageW(TrayWindow(), tray::kTrayCallbackMessage, 0, WM_RBUTTONUP);
    HWND menu = nullptr;
    (void)testsupport::PumpUntil([&] {
      menu = FindProcessWindow(pid_, L"#32768");
      return menu && ::IsWindowVisible(menu);
    });
    return menu && ::IsWindowVisible(menu) ? menu : nullptr;
  }
  // Waits until the list holds n rows, or lists text.
  bool WaitForRows(size_t n, DWORD timeoutMs = 10000) const {
    return testsupport::PumpUntil(
        [&] { return ::SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0) == static_cast<LRESULT>(n); }, timeoutMs);
  }
  bool WaitForText(const std::wstring& text, DWORD timeoutMs = 10000) const {
    return testsupport::PumpUntil(
        [&] {
          const auto texts = Texts();
          return std::find(texts.begin(), texts.end(), text) != texts.end();
        },
        timeoutMs);
  }

 private:
  std::wstring exe_;
  // A point inside a row, or below the last one for -1, in the list's client pixels.
  POINT RowPoint(int index) const {
    RECT r{};
    if (index < 0) {
      ::GetClientRect(List(), &r);
      return POINT{r.left + 20, r.bottom - 8};
    }
    detail::RemoteBlock remote(process_.get(), sizeof(RECT));
    r.left = LVIR_BOUNDS;
    remote.Write(0, &r, sizeof(r));
    ::SendMessageW(List(), LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote.get()));
    remote.Read(0, &r, sizeof(r));
    return POINT{r.left + 5, (r.top + r.bottom) / 2};
  }
  win::UniqueHandle process_;
  DWORD pid_ = 0;
  HWND hwnd_ = nullptr;
  // Watches the window from the moment it is ready until it is closed or killed.
  std::unique_ptr<testsupport::AnswerProbe> probe_;
};

}  // namespace e2e
