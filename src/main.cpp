// Pellucidor: one copy at a time, one window, and the message loop.
#include <windows.h>
#include <commctrl.h>

#include "app/form1.h"
#include "app/single_instance.h"
#include "win/report.h"
#include "win/module.h"
#include "win/unique.h"

namespace {

// Two copies would hand each other every clipboard notification: a second start shows the first.
bool ShowRunningCopy() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (HWND running = ::FindWindowW(app::kFormClass, nullptr)) {
      DWORD pid = 0;
      ::GetWindowThreadProcessId(running, &pid);
      ::AllowSetForegroundWindow(pid);
      ::PostMessageW(running, app::kShowRunningCopy, 0, 0);
      return true;
    }
    ::Sleep(100);  // the first copy may still be starting
  }
  return false;
}

int Run(HINSTANCE instance) {
  win::UniqueHandle running;
  if (!app::ClaimSingleInstance(running)) {
    (void)ShowRunningCopy();
    return 0;
  }

  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&icc);

  app::Form1 form;
  if (!form.Create(instance)) return 1;

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (win::FilterMessage(msg) || ::IsDialogMessageW(form.hwnd(), &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // What could not be read at start (no memory for a huge list in a 32-bit process) is never
  // overwritten: the history's store refuses to store a list it did not read whole.
  try {
    return Run(instance);
  } catch (...) {
    win::ReportCaught(L"start");
    return 1;
  }
}
