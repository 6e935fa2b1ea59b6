// The tray icon control: what it sends to the shell and when, and its mouse events.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tray/csystray.h"
#include "tray/msystray.h"

namespace {

struct Sent {
  uint32_t operation;
  std::string tip;
};

class TrayTest : public testing::Test {
 protected:
  LONG_PTR Procedure() const { return ::GetWindowLongPtrW(tray_->hwnd(), GWLP_WNDPROC); }
  void NewTaskBar() const { ::SendMessageW(tray_->hwnd(), mSysTray::TaskbarCreatedMessage(), 0, 0); }

  std::vector<Sent> sent_;
  bool shellTakes_ = true;  // false: as when there is no task bar yet
  // Its shell keeps every record it is sent.
  std::unique_ptr<tray::cSysTray> tray_ =
      std::make_unique<tray::cSysTray>(true, [this](uint32_t op, const tray::NotifyRecord& r) {
        sent_.push_back({op, tray::UnpackNotifyRecord(r).szTip});
        return shellTakes_;
      });
};

// The icon is added when a shell takes it, also one that starts later, deleted only once added, and
// deleted before the window's own procedure is restored; its tip is cut to fit.
TEST_F(TrayTest, TheIconComesAndGoesWithTheShell) {
  const LONG_PTR original = Procedure();
  shellTakes_ = false;
  tray_->SetInTray(true);
  EXPECT_TRUE(tray_->InTray());
  EXPECT_FALSE(tray_->IsAdded());
  tray_->SetTrayTip(L"Pellucidor");
  EXPECT_EQ(sent_.size(), 1u) << "nothing to modify";
  tray_->SetInTray(false);
  EXPECT_EQ(sent_.size(), 1u) << "nothing to delete";
  EXPECT_EQ(Procedure(), original);
  tray_->SetInTray(true);
  shellTakes_ = true;
  NewTaskBar();
  EXPECT_TRUE(tray_->IsAdded());
  EXPECT_EQ(sent_.back().operation, tray::kNimAdd);
  EXPECT_EQ(sent_.back().tip.substr(0, 11), std::string("Pellucidor", 11));
  shellTakes_ = false;  // a task bar that kept the icon refuses it again: it is still there
  NewTaskBar();
  EXPECT_TRUE(tray_->IsAdded());
  EXPECT_EQ(Procedure(), reinterpret_cast<LONG_PTR>(mSysTray::TrayWndProc));
  // Tips are cut at 64 characters, with no NUL then.
  for (const size_t n : {0, 63, 70}) tray_->SetTrayTip(std::wstring(n, L'y'));
  EXPECT_EQ(sent_.end()[-3].operation, tray::kNimModify);
  EXPECT_EQ(sent_.end()[-3].tip, std::string(1, '\0') + std::string(63, ' '));
  EXPECT_EQ(sent_.end()[-2].tip, std::string(63, 'y') + std::string(1, '\0'));
  EXPECT_EQ(sent_.end()[-1].tip, std::string(64, 'y'));
  EXPECT_EQ(tray_->TrayTip(), std::wstring(70, L'y'));
  tray_->SetInTray(false);
  EXPECT_EQ(sent_.back().operation, tray::kNimDelete);
  EXPECT_EQ(Procedure(), original);
  shellTakes_ = true;
  tray_->SetInTray(true);
  tray_.reset();  // ended while shown
  EXPECT_EQ(sent_.back().operation, tray::kNimDelete);
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
  tray_->MouseMove = [&](int32_t& id) { event = "move" + std::to_string(id); };
  tray_->MouseDown = [&](int16_t& b, int32_t&) { event = "down" + std::to_string(b); };
  tray_->MouseUp = [&](int16_t& b, int32_t&) { event = "up" + std::to_string(b); };
  tray_->MouseDblClick = [&](int16_t& b, int32_t&) { event = "dbl" + std::to_string(b); };
  tray_->SetInTray(true);
  const std::pair<UINT, const char*> cases[] = {{WM_MOUSEMOVE, "move0"},
                                                {WM_LBUTTONDOWN, "down1"},
                                                {WM_LBUTTONUP, "up1"},
                                                {WM_LBUTTONDBLCLK, "dbl1"},
                                                {WM_RBUTTONDOWN, "down2"},
                                                {WM_RBUTTONUP, "up2"},
                                                {WM_RBUTTONDBLCLK, "dbl2"},
                                                {WM_MBUTTONDOWN, ""},
                                                {WM_MBUTTONUP, ""},
                                                {WM_MBUTTONDBLCLK, ""},
                                                {0x0400, ""}};
  for (const auto& [mouse, expected] : cases) {
    event.clear();
    EXPECT_EQ(::SendMessageW(tray_->hwnd(), tray::kTrayCallbackMessage, 0, mouse), 42);
    EXPECT_EQ(event, expected) << mouse;
    EXPECT_EQ(g_seen, mouse);
  }
  tray_->MouseDblClick = [](int16_t&, int32_t&) { throw std::runtime_error("event"); };
  g_seen = 0;
  EXPECT_EQ(::SendMessageW(tray_->hwnd(), tray::kTrayCallbackMessage, 0, WM_LBUTTONDBLCLK), 42)
      << "nothing thrown leaves";
  EXPECT_EQ(g_seen, static_cast<UINT>(WM_LBUTTONDBLCLK)) << "and the message still goes on";
}

}  // namespace
