// The tray icon control: what it sends to the shell and when, and its mouse events.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tray/csystray.h"
#include "tray/msystray.h"

namespace {

using tray::cSysTray;
using tray::NotifyFields;

struct Sent {
  uint32_t operation;
  NotifyFields fields;
};

class TrayTest : public testing::Test {
 protected:
  // A shell that keeps every record it is sent.
  tray::ShellNotifyFn Shell() {
    return [this](uint32_t op, const tray::NotifyRecord& r) {
      sent_.push_back({op, tray::UnpackNotifyRecord(r)});
      return shellTakes_;
    };
  }

  std::vector<Sent> sent_;
  bool shellTakes_ = true;  // false: as when there is no task bar yet
};

TEST_F(TrayTest, TipsAreCutAt64Characters) {
  cSysTray t(true, Shell());
  t.SetInTray(true);
  sent_.clear();
  t.SetTrayTip(L"");
  t.SetTrayTip(std::wstring(63, L'x'));
  t.SetTrayTip(std::wstring(70, L'y'));
  ASSERT_EQ(sent_.size(), 3u);
  EXPECT_EQ(sent_[0].operation, tray::kNimModify);
  EXPECT_EQ(sent_[0].fields.szTip, std::string(1, '\0') + std::string(63, ' '));
  EXPECT_EQ(sent_[1].fields.szTip, std::string(63, 'x') + std::string(1, '\0'));
  EXPECT_EQ(sent_[2].fields.szTip, std::string(64, 'y')) << "cut at 64, no NUL";
  EXPECT_EQ(t.TrayTip(), std::wstring(70, L'y'));
}

TEST_F(TrayTest, RemovingDeletesTheIconBeforeTheProcedureIsRestored) {
  auto t = std::make_unique<cSysTray>(true, Shell());
  const HWND w = t->hwnd();
  const auto original = ::GetWindowLongPtrW(w, GWLP_WNDPROC);
  t->SetInTray(true);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(w, GWLP_WNDPROC)), mSysTray::TrayWndProc);
  t->SetInTray(false);
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(sent_[1].operation, tray::kNimDelete);
  EXPECT_EQ(::GetWindowLongPtrW(w, GWLP_WNDPROC), original);

  t->SetInTray(true);
  t.reset();  // Terminate while shown
  ASSERT_EQ(sent_.size(), 4u);
  EXPECT_EQ(sent_[3].operation, tray::kNimDelete);
}

// A previous procedure that records what reached it.
std::vector<UINT> g_seen;
LRESULT CALLBACK Recording(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == tray::kTrayCallbackMessage) {
    g_seen.push_back(static_cast<UINT>(l));
    return 42;
  }
  return ::DefWindowProcW(h, msg, w, l);
}

TEST_F(TrayTest, MouseNotificationsBecomeEventsAndStillReachThePreviousProcedure) {
  cSysTray t(true, Shell());
  ::SetWindowLongPtrW(t.hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Recording));
  std::vector<std::string> events;
  const auto note = [&](const char* what, int n) { events.push_back(what + std::to_string(n)); };
  t.MouseMove = [&](int32_t& id) { note("move", id); };
  t.MouseDown = [&](int16_t& b, int32_t&) { note("down", b); };
  t.MouseUp = [&](int16_t& b, int32_t&) { note("up", b); };
  t.MouseDblClick = [&](int16_t& b, int32_t&) { note("dbl", b); };
  t.SetInTray(true);
  const struct {
    UINT mouse;
    const char* event;
  } cases[] = {{WM_MOUSEMOVE, "move0"},     {WM_LBUTTONDOWN, "down1"}, {WM_LBUTTONUP, "up1"},
               {WM_LBUTTONDBLCLK, "dbl1"},  {WM_RBUTTONDOWN, "down2"}, {WM_RBUTTONUP, "up2"},
               {WM_RBUTTONDBLCLK, "dbl2"},  {WM_MBUTTONDOWN, nullptr}, {WM_MBUTTONUP, nullptr},
               {WM_MBUTTONDBLCLK, nullptr}, {0x0400, nullptr}};
  for (const auto& c : cases) {
    events.clear();
    g_seen.clear();
    EXPECT_EQ(::SendMessageW(t.hwnd(), tray::kTrayCallbackMessage, 0, c.mouse), 42);
    EXPECT_EQ(events, c.event ? std::vector<std::string>{c.event} : std::vector<std::string>{})
        << std::hex << c.mouse;
    EXPECT_EQ(g_seen, std::vector<UINT>{c.mouse});
  }
  t.MouseDblClick = [](int16_t&, int32_t&) { throw std::runtime_error("event"); };
  g_seen.clear();
  EXPECT_EQ(::SendMessageW(t.hwnd(), tray::kTrayCallbackMessage, 0, WM_LBUTTONDBLCLK), 42)
      << "nothing thrown leaves";
  EXPECT_EQ(g_seen, std::vector<UINT>{WM_LBUTTONDBLCLK}) << "and the message still goes on";
}

TEST_F(TrayTest, AnIconTheShellRefusedIsAddedByTheNextTaskBar) {
  for (const bool taskBarComes : {true, false}) {
    sent_.clear();
    shellTakes_ = false;
    cSysTray t(true, Shell());
    const auto original = ::GetWindowLongPtrW(t.hwnd(), GWLP_WNDPROC);
    t.SetInTray(true);
    EXPECT_TRUE(t.InTray());
    EXPECT_FALSE(t.IsAdded());
    t.SetTrayTip(L"Pellucidor");
    EXPECT_EQ(sent_.size(), 1u) << "nothing to modify";
    shellTakes_ = true;
    if (taskBarComes) {
      ::SendMessageW(t.hwnd(), mSysTray::TaskbarCreatedMessage(), 0, 0);
      EXPECT_TRUE(t.IsAdded());
      ASSERT_EQ(sent_.size(), 2u);
      EXPECT_EQ(sent_[1].operation, tray::kNimAdd);
      EXPECT_EQ(sent_[1].fields.szTip.substr(0, 11), std::string("Pellucidor", 11));
      shellTakes_ = false;  // a task bar that kept the icon refuses it again: it is still there
      ::SendMessageW(t.hwnd(), mSysTray::TaskbarCreatedMessage(), 0, 0);
      EXPECT_TRUE(t.IsAdded());
    }
    const size_t before = sent_.size();
    t.SetInTray(false);
    EXPECT_EQ(sent_.size(), before + (taskBarComes ? 1 : 0)) << "deleted only once added";
    EXPECT_EQ(::GetWindowLongPtrW(t.hwnd(), GWLP_WNDPROC), original);
  }
}

}  // namespace
