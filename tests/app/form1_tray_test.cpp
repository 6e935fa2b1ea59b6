// The main window with its tray icon: the pictures at the screen's DPI.

#include <tuple>

#include "app/window_helpers.h"
#include "support/test_support.h"

namespace {

using namespace testsupport;
using Form1TrayTest = FormTest;

int IconWidth(HANDLE icon) {
  ICONINFO info{};
  if (!::GetIconInfo(static_cast<HICON>(icon), &info)) return 0;
  const win::UniqueHbitmap color(info.hbmColor), mask(info.hbmMask);
  BITMAP bitmap{};
  ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
  return bitmap.bmWidth;
}

// Drawn by the system at another size, a picture blurs: the window's and the tray's are loaded at
// the sizes for the window's DPI, and again when it changes.
TEST_F(Form1TrayTest, IconsFollowTheScreensDpi) {
  app::Form1& f = Open();
  for (int dpi : {0, 144, 192, 96}) {  // 0: as opened
    RECT frame{};
    ::GetWindowRect(f.hwnd(), &frame);
    if (dpi)
      ::SendMessageW(f.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
    else
      dpi = app::WindowDpi(f.hwnd());
    const auto window = [&](WPARAM which) {
      return IconWidth(reinterpret_cast<HICON>(::SendMessageW(f.hwnd(), WM_GETICON, which, 0)));
    };
    EXPECT_EQ(std::tuple(IconWidth(f.cSysTray1->TrayIcon()->Handle), window(ICON_SMALL), window(ICON_BIG)),
              std::tuple(::MulDiv(16, dpi, 96), ::MulDiv(16, dpi, 96), ::MulDiv(32, dpi, 96)))
        << dpi;
  }
}

}  // namespace
