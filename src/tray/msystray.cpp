#include "tray/msystray.h"

#include <cstdint>

#include "tray/csystray.h"
#include "tray/notify_record.h"
#include "win/report.h"

namespace mSysTray {

WNDPROC TrayPrevWndProc = nullptr;

UINT TaskbarCreatedMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

LRESULT CALLBACK TrayWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  // A borrowed pointer: the control outlives its window's subclassing.
  auto* control = reinterpret_cast<tray::cSysTray*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  try {
    if (uMsg == tray::kTrayCallbackMessage && control) {
      int32_t id = static_cast<int32_t>(wParam);
      control->RaiseMouseEvent(static_cast<uint32_t>(lParam), id);
      wParam = static_cast<WPARAM>(static_cast<uint32_t>(id));
    } else if (uMsg == TaskbarCreatedMessage() && control) {
      control->ReAddAfterShellRestart();
    } else if (uMsg == WM_TIMER && wParam == tray::kAddRetryTimer && control) {
      control->RetryAdd();
    }
  } catch (...) {
    win::ReportCaught(L"tray notification");  // the event is lost, the message still goes on
  }
  return ::CallWindowProcW(TrayPrevWndProc, hWnd, uMsg, wParam, lParam);
}

}  // namespace mSysTray
