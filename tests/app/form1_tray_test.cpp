// The main window with its tray icon: the tray's clicks, and the icon gone with the session.

#include <tuple>

#include "support/test_support.h"
#include "tray/notify_record.h"

namespace {

using namespace testsupport;
using Form1TrayTest = FormTest;

// Ends this thread's menu once it is open: run by the menu's own message loop.
bool g_menuOpened = false;
void CALLBACK EndMenuOnceOpen(HWND, UINT, UINT_PTR, DWORD) {
  const HWND menu = ::FindWindowW(L"#32768", nullptr);
  if (!menu || !::IsWindowVisible(menu) ||
      ::GetWindowThreadProcessId(menu, nullptr) != ::GetCurrentThreadId())
    return;
  g_menuOpened = true;
  ::EndMenu();
}

// A double-click on the tray icon shows the window, with either button; a right click opens the
// menu once the double-click time has passed without a second click. The shell's notifications
// are sent as it sends them, all at once: a machine's speed cannot come between them.
TEST_F(Form1TrayTest, ADoubleClickWithEitherButtonShowsTheWindowAndARightClickOpensTheMenu) {
  app::Form1& f = Open();
  const struct {
    const char* clicks;
    std::vector<UINT> mouse;
    bool shown, menu;
  } cases[] = {
      {"left double-click", {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}, true, false},
      {"right double-click", {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_RBUTTONUP}, true, false},
      {"right click", {WM_RBUTTONDOWN, WM_RBUTTONUP}, false, true},
      {"left click", {WM_LBUTTONDOWN, WM_LBUTTONUP}, false, false},
  };
  const UINT_PTR watch = ::SetTimer(nullptr, 0, 10, EndMenuOnceOpen);
  for (const auto& c : cases) {
    ::SendMessageW(f.hwnd(), app::kShowRunningCopy, 0, 0);
    ::ShowWindow(f.hwnd(), SW_MINIMIZE);
    ASSERT_TRUE(PumpUntil([&] { return !::IsWindowVisible(f.hwnd()); })) << c.clicks;
    g_menuOpened = false;
    for (const UINT mouse : c.mouse)
      ::SendMessageW(f.cSysTray1->hwnd(), tray::kTrayCallbackMessage, 0, mouse);
    EXPECT_EQ(std::tuple(g_menuOpened, f.TrayMenuPending()), std::tuple(false, c.menu)) << c.clicks;
    EXPECT_TRUE(!c.menu || PumpUntil([&] { return g_menuOpened && !f.TrayMenuPending(); })) << c.clicks;
    EXPECT_EQ(::IsWindowVisible(f.hwnd()) != FALSE, c.shown) << c.clicks;
  }
  ::KillTimer(nullptr, watch);
  ::SendMessageW(f.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_FALSE(f.cSysTray1->IsAdded()) << "the icon goes with the session";
}

}  // namespace
