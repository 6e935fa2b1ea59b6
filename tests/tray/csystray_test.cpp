// The tray icon control: what it sends to the shell and when, and its mouse events.
#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "support/test_support.h"
#include "tray/csystray.h"
#include "tray/msystray.h"

namespace {

class TrayTest : public testing::Test {
 protected:
  LONG_PTR Procedure() const { return ::GetWindowLongPtrW(tray_->hwnd(), GWLP_WNDPROC); }
  void NewTaskBar() const { ::SendMessageW(tray_->hwnd(), mSysTray::TaskbarCreatedMessage(), 0, 0); }

  // A shell that is not there yet, one that times out on every call (and still carries it out), and
  // one that answers.
  enum class Shell { Absent, TimesOut, Answers };
  std::unique_ptr<tray::cSysTray> Make(tray::AddRetry retry) {
    return std::make_unique<tray::cSysTray>(
        true,
        [this](uint32_t op, const tray::NotifyRecord& r) {
          const bool there = shell_ != Shell::Absent, held = holds_;
          sent_ += op == tray::kNimAdd      ? 'A'
                   : op == tray::kNimModify ? 'M'
                   : op == tray::kNimDelete ? 'D'
                                            : '?';
          tips_.push_back(tray::UnpackNotifyRecord(r).szTip);
          if (there && op == tray::kNimAdd) holds_ = true;
          if (there && op == tray::kNimDelete) holds_ = false;
          return shell_ == Shell::Answers && (op == tray::kNimAdd ? !held : held);
        },
        retry);
  }

  Shell shell_ = Shell::Answers;
  bool holds_ = false;  // the shell shows the icon
  std::string sent_;    // what the shell was sent: A(dd), M(odify), D(elete)
  std::vector<std::string> tips_;
  std::unique_ptr<tray::cSysTray> tray_ = Make({20, 60000});
};

// Added when a shell takes it, also one that starts later or kept it, and deleted whenever an add
// was tried; the window's own procedure comes back when it is removed; its tip is cut to fit.
TEST_F(TrayTest, TheIconComesAndGoesWithTheShell) {
  const LONG_PTR original = Procedure();
  shell_ = Shell::Absent;
  tray_->SetInTray(true);
  tray_->SetTrayTip(L"Pellucidor");
  EXPECT_TRUE(tray_->InTray() && tray_->IsAdded() && !tray_->IsShown());
  shell_ = Shell::Answers;
  NewTaskBar();
  EXPECT_TRUE(tray_->IsShown());
  NewTaskBar();  // a task bar that kept the icon refuses it again, and takes its modify
  EXPECT_TRUE(tray_->IsShown() && !tray_->IsRetryingAdd());
  EXPECT_EQ(tips_.back().substr(0, 11), std::string("Pellucidor", 11));
  EXPECT_EQ(Procedure(), reinterpret_cast<LONG_PTR>(mSysTray::TrayWndProc));
  for (const size_t n : {0, 63, 70}) tray_->SetTrayTip(std::wstring(n, L'y'));
  EXPECT_EQ(std::vector(tips_.end() - 3, tips_.end()),
            (std::vector<std::string>{std::string(1, '\0') + std::string(63, ' '),
                                      std::string(63, 'y') + std::string(1, '\0'), std::string(64, 'y')}))
      << "cut at 64, then with no NUL";
  EXPECT_EQ(tray_->TrayTip(), std::wstring(70, L'y'));
  tray_->SetInTray(false);
  EXPECT_EQ(Procedure(), original);
  tray_->SetInTray(true);
  tray_.reset();  // ended while shown
  // Refused: the add, its modify, the tip (AMM). A new task bar (A); one that kept it (AM). Three tips,
  // removed (MMMD); added again, ended (AD).
  EXPECT_EQ(sent_, "AMMAAMMMMDAD");
  EXPECT_FALSE(holds_);
}

// At log-on the shell can time out on an add that it still carries out, or not be there yet: the
// add is tried again until the shell says it holds the icon, for a while.
TEST_F(TrayTest, ARefusedAddIsTriedAgainForAWhile) {
  const struct {
    const char* shell;
    Shell first, then;
    tray::AddRetry retry;
    bool shown;
    const char* sent;  // until the icon is removed
  } cases[] = {
      {"timing out, then answering", Shell::TimesOut, Shell::Answers, {20, 60000}, true, "AMAMD"},
      {"not there, then answering", Shell::Absent, Shell::Answers, {20, 60000}, true, "AMAD"},
      {"never there", Shell::Absent, Shell::Absent, {20, 200}, false, "AM(AM)+D"},
  };
  for (const auto& c : cases) {
    tray_ = Make(c.retry);
    sent_.clear();
    shell_ = c.first;
    tray_->SetInTray(true);
    shell_ = c.then;
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !tray_->IsRetryingAdd(); })) << c.shell;
    EXPECT_EQ(tray_->IsShown(), c.shown) << c.shell;
    tray_->SetInTray(false);
    EXPECT_TRUE(std::regex_match(sent_, std::regex(c.sent))) << c.shell << ": " << sent_;
    EXPECT_FALSE(holds_) << c.shell;
  }
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
