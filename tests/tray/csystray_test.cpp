// The tray icon control: what it sends to the shell and when, and its mouse events.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tray/csystray.h"
#include "tray/msystray.h"

namespace {

class TrayTest : public testing::Test {
 protected:
  LONG_PTR Procedure() const { return ::GetWindowLongPtrW(tray_->hwnd(), GWLP_WNDPROC); }
  void NewTaskBar() const { ::SendMessageW(tray_->hwnd(), mSysTray::TaskbarCreatedMessage(), 0, 0); }

  std::string sent_;  // what the shell was sent: A(dd), M(odify), D(elete)
  std::vector<std::string> tips_;
  bool shellTakes_ = true;  // false: as when there is no task bar yet
  std::unique_ptr<tray::cSysTray> tray_ =
      std::make_unique<tray::cSysTray>(true, [this](uint32_t op, const tray::NotifyRecord& r) {
        sent_ += op == tray::kNimAdd      ? 'A'
                 : op == tray::kNimModify ? 'M'
                 : op == tray::kNimDelete ? 'D'
                                          : '?';
        tips_.push_back(tray::UnpackNotifyRecord(r).szTip);
        return shellTakes_;
      });
};

// The icon is added when a shell takes it, also one that starts later, and deleted only once added;
// the window's own procedure comes back when it is removed; its tip is cut to fit.
TEST_F(TrayTest, TheIconComesAndGoesWithTheShell) {
  const LONG_PTR original = Procedure();
  shellTakes_ = false;
  tray_->SetInTray(true);
  tray_->SetTrayTip(L"Pellucidor");
  EXPECT_TRUE(tray_->InTray() && !tray_->IsAdded());
  tray_->SetInTray(false);
  EXPECT_EQ(sent_, "A") << "refused: nothing to modify or delete";
  EXPECT_EQ(Procedure(), original);
  tray_->SetInTray(true);
  shellTakes_ = true;
  NewTaskBar();
  shellTakes_ = false;  // a task bar that kept the icon refuses it again: it is still there
  NewTaskBar();
  EXPECT_TRUE(tray_->IsAdded());
  EXPECT_EQ(tips_[2].substr(0, 11), std::string("Pellucidor", 11));
  EXPECT_EQ(Procedure(), reinterpret_cast<LONG_PTR>(mSysTray::TrayWndProc));
  for (const size_t n : {0, 63, 70}) tray_->SetTrayTip(std::wstring(n, L'y'));
  EXPECT_EQ(std::vector(tips_.end() - 3, tips_.end()),
            (std::vector<std::string>{std::string(1, '\0') + std::string(63, ' '),
                                      std::string(63, 'y') + std::string(1, '\0'), std::string(64, 'y')}))
      << "cut at 64, then with no NUL";
  EXPECT_EQ(tray_->TrayTip(), std::wstring(70, L'y'));
  tray_->SetInTray(false);
  EXPECT_EQ(Procedure(), original);
  shellTakes_ = true;
  tray_->SetInTray(true);
  tray_.reset();  // ended while shown
  EXPECT_EQ(sent_, "AAAAMMMDAD");
}

// A previous procedure that records what reached it.
UINT g_seen = 0;
LRESULT CALLBACK Recording(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg != tray::kTrayCallbackMessage) return ::DefWindowProcW(h, msg, w, l);
  g_seen = static_cast<UINT>(l);
  return 42;
}

TEST_F(TrayTest, MouseNotificationsBecomeEventsAndStillReachThePreviousProcedure) {
  ::SetWindowLongPtrW(tray_->hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Recording));
  std::string event;
  tray_->MouseUp = [&](int16_t& b, int32_t&) { event = "up" + std::to_string(b); };
  tray_->MouseDblClick = [&](int16_t& b, int32_t&) {
    event = "dbl" + std::to_string(b);
    if (b == 1) throw std::runtime_error("the left one throws");
  };
  tray_->SetInTray(true);
  const std::pair<UINT, const char*> cases[] = {
      {WM_LBUTTONUP, "up1"},      {WM_RBUTTONUP, "up2"}, {WM_RBUTTONDBLCLK, "dbl2"},
      {WM_LBUTTONDBLCLK, "dbl1"},  // the event throws: nothing thrown leaves, and the message still goes on
      {WM_MBUTTONDBLCLK, ""},     {0x0400, ""}};
  for (const auto& [mouse, expected] : cases) {
    event.clear();
    EXPECT_EQ(::SendMessageW(tray_->hwnd(), tray::kTrayCallbackMessage, 0, mouse), 42);
    EXPECT_EQ(event, expected) << mouse;
    EXPECT_EQ(g_seen, mouse);
  }
}

}  // namespace
