#include "pellucidor_driver.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "app/form1.h"
#include "support/test_support.h"
#include "tray/notify_record.h"

namespace e2e {
namespace {

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

BOOL CALLBACK FindProc(HWND h, LPARAM l) {
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
void RunXdotool(const std::vector<std::string>& commands) {
  std::wstring script;
  for (const std::string& c : commands)
    script += L"/usr/bin/xdotool " + std::wstring(c.begin(), c.end()) + L"; ";
  (void)testsupport::StartProcess(L"Z:\\bin\\sh -c \"(" + script + L") >/dev/null 2>&1\"");
}

// Gives a window the X server's keyboard focus; Wine keeps the id of its X window among its properties.
std::string FocusCommand(HWND window) {
  const auto x = reinterpret_cast<uintptr_t>(::GetPropW(window, L"__wine_x11_whole_window"));
  return "windowfocus --sync " + std::to_string(x);
}

}  // namespace

bool HasRealInput() {
  return ::GetFileAttributesW(L"Z:\\usr\\bin\\xdotool") != INVALID_FILE_ATTRIBUTES;
}

HWND FindProcessWindow(DWORD pid, const wchar_t* className) {
  FindData d{pid, className, nullptr};
  ::EnumWindows(FindProc, reinterpret_cast<LPARAM>(&d));
  return d.found;
}

Pellucidor::Pellucidor(const std::wstring& folder) : exe_(folder + L"\\Pellucidor.exe") {
  if (::GetFileAttributesW(exe_.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ::CopyFileW(testsupport::PellucidorExe().c_str(), exe_.c_str(), TRUE);
  }
}

Pellucidor::~Pellucidor() {
  if (Running()) {
    if (Close() == STILL_ACTIVE) Kill();
  }
}

bool Pellucidor::Start() {
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

DWORD Pellucidor::Close() {
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

void Pellucidor::Kill() {
  if (!process_) return;
  if (probe_) probe_->Report("the program's window");
  probe_.reset();
  ::TerminateProcess(process_.get(), 99);
  ::WaitForSingleObject(process_.get(), 5000);
  process_.reset();
}

bool Pellucidor::Running() const {
  return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool Pellucidor::MinimiseToTray() const {
  ::ShowWindow(hwnd_, SW_MINIMIZE);
  return testsupport::PumpUntil([&] { return !::IsWindowVisible(hwnd_); });
}

HWND Pellucidor::TrayWindow() const {
  return FindProcessWindow(pid_, L"PellucidorTrayControl");
}

std::vector<Row> Pellucidor::Rows() const {
  std::vector<Row> rows;
  const HWND list = List();
  const int n = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  constexpr size_t kChars = 4096;
  RemoteBlock remote(process_.get(), sizeof(LVITEMW) + kChars * sizeof(wchar_t));
  for (int i = 0; i < n; ++i) {
    Row row;
    for (int sub = 0; sub < 2; ++sub) {
      LVITEMW item{};
      item.iSubItem = sub;
      item.cchTextMax = kChars;
      item.pszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(LVITEMW)));
      remote.Write(0, &item, sizeof(item));
      const int len =
          static_cast<int>(::SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(remote.get())));
      std::wstring text(static_cast<size_t>(len), L'\0');
      if (len > 0) remote.Read(sizeof(LVITEMW), text.data(), len * sizeof(wchar_t));
      (sub == 0 ? row.text : row.type) = text;
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::wstring> Pellucidor::Texts() const {
  std::vector<std::wstring> texts;
  for (const Row& r : Rows()) texts.push_back(r.text);
  return texts;
}

void Pellucidor::SelectRow(int index) const {
  RemoteBlock remote(process_.get(), sizeof(LVITEMW));
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  remote.Write(0, &item, sizeof(item));
  ::SendMessageW(List(), LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(remote.get()));
}

POINT Pellucidor::RowPoint(int index) const {
  RECT r{};
  if (index < 0) {
    ::GetClientRect(List(), &r);
    return POINT{r.left + 20, r.bottom - 8};
  }
  RemoteBlock remote(process_.get(), sizeof(RECT));
  r.left = LVIR_BOUNDS;
  remote.Write(0, &r, sizeof(r));
  ::SendMessageW(List(), LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote.get()));
  remote.Read(0, &r, sizeof(r));
  return POINT{r.left + 5, (r.top + r.bottom) / 2};
}

void Pellucidor::Press(const std::vector<ClickAndKeys>& steps) const {
  std::vector<std::string> commands = {FocusCommand(hwnd_)};
  for (const ClickAndKeys& step : steps) {
    POINT at = RowPoint(step.row);
    ::ClientToScreen(List(), &at);
    commands.push_back("mousemove --sync " + std::to_string(at.x) + " " + std::to_string(at.y) + " click 1");
    commands.push_back(std::string("key ") + step.keys);
  }
  RunXdotool(commands);
}

void Pellucidor::Press(HWND window, const char* keys) const {
  RunXdotool({FocusCommand(window), std::string("key ") + keys});
}

HWND Pellucidor::OpenTrayMenu() const {
  ::PostMessageW(TrayWindow(), tray::kTrayCallbackMessage, 0, WM_RBUTTONUP);
  HWND menu = nullptr;
  (void)testsupport::PumpUntil([&] {
    menu = FindProcessWindow(pid_, L"#32768");
    return menu && ::IsWindowVisible(menu);
  });
  return menu && ::IsWindowVisible(menu) ? menu : nullptr;
}

void Pellucidor::DoubleClickRow(int index) const {
  const POINT p = RowPoint(index);
  const LPARAM at = MAKELPARAM(p.x, p.y);
  ::SendMessageW(List(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(List(), WM_LBUTTONUP, 0, at);
  ::SendMessageW(List(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  ::SendMessageW(List(), WM_LBUTTONUP, 0, at);
}

bool Pellucidor::WaitForRows(size_t n, DWORD timeoutMs) const {
  return testsupport::PumpUntil(
      [&] { return ::SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0) == static_cast<LRESULT>(n); }, timeoutMs);
}

bool Pellucidor::WaitForText(const std::wstring& text, DWORD timeoutMs) const {
  return testsupport::PumpUntil(
      [&] {
        const auto texts = Texts();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
      },
      timeoutMs);
}

}  // namespace e2e
