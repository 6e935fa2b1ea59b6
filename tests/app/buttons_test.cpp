// The command buttons, the option boxes, the pointer feedback and the list's double-click.
#include <gtest/gtest.h>

#include "clip/mclip.h"
#include "form1_fixture.h"

#include "startup/run_value.h"
#include "win/module.h"

namespace {

using testsupport::Form1Test;
using testsupport::Hex;

class ButtonsTest : public Form1Test {
 protected:
  void Click(HWND button) { ::SendMessageW(button, BM_CLICK, 0, 0); }
  std::vector<std::string> Log() const { return testsupport::LogLines(folder_.File(L"backups.log")); }
  std::wstring RunValue() const {
    wchar_t data[512] = {};
    DWORD size = sizeof(data);
    const std::wstring name = startup::FileNameOf(win::ExecutablePath());
    if (::RegGetValueW(HKEY_CURRENT_USER, testsupport::kScratchRun, name.c_str(), RRF_RT_REG_SZ, nullptr,
                       data, &size) != ERROR_SUCCESS) {
      return L"<absent>";
    }
    return data;
  }
  void DoubleClickRow(int index) {
    // What the user sees is the list as it stands, once the control has caught up with it.
    const HWND shown = form_->ListView1.hwnd();
    testsupport::PumpUntil([&] {
      return static_cast<size_t>(::SendMessageW(shown, LVM_GETITEMCOUNT, 0, 0)) == form_->ListView1.Count();
    });
    RECT r{};
    r.left = LVIR_BOUNDS;
    ::SendMessageW(form_->ListView1.hwnd(), LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
    const LPARAM at = MAKELPARAM(r.left + 5, (r.top + r.bottom) / 2);
    const HWND list = form_->ListView1.hwnd();
    ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(list, WM_LBUTTONUP, 0, at);
    ::SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    ::SendMessageW(list, WM_LBUTTONUP, 0, at);
    testsupport::PumpFor(20);
  }
};

TEST_F(ButtonsTest, PutBackPlacesTheEntryOnTheClipboardWithoutRecordingIt) {
  app::Form1& f = Open();
  const std::wstring entries[] = {L"hello", L"rich one", L"caf\u00E9 \u65E5\u672C \u0416"};
  for (const auto& e : entries) f.ListView1.AddItem(e);
  f.ListView1.SetSubItem(2, app::RowType::RichText);
  for (size_t i = 0; i < std::size(entries); ++i) {
    f.ListView1.Select(i + 1);
    Click(f.Check5);
    EXPECT_EQ(app::Form1::Value(f.Check5), 0) << "never stays pressed";
    EXPECT_EQ(testsupport::ClipboardText(), entries[i]);
    EXPECT_EQ(::GetClipboardOwner(), f.hwnd()) << "put there by the window, not by nobody";
    testsupport::PumpFor(50);
    EXPECT_EQ(f.ListView1.Count(), 3u);
    EXPECT_TRUE(mClip::CaptureEnabled);
  }
  const auto log = Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].rfind("hello was put to clipboard at ", 0), 0u) << log[0];
  EXPECT_EQ(log[2].rfind(testsupport::Utf8(entries[2]) + " was put to clipboard at ", 0), 0u);
}

TEST_F(ButtonsTest, PutBackWithoutSelectionDoesNothingAndRecordingGoesOn) {
  app::Form1& f = Open();
  Click(f.Check5);
  EXPECT_TRUE(mClip::CaptureEnabled);
  EXPECT_TRUE(Log().empty());
  ASSERT_TRUE(testsupport::ClipboardFromOtherProcess({L"text=" + Hex(L"next copy")}));
  EXPECT_TRUE(testsupport::PumpUntil([&] { return f.ListView1.Count() == 1; }));
}

TEST_F(ButtonsTest, ClearEmptiesListAndClipboardAndLogsIt) {
  app::Form1& f = Open();
  ASSERT_TRUE(testsupport::ClipboardFromOtherProcess({L"text=" + Hex(L"on the clipboard")}));
  ASSERT_TRUE(testsupport::PumpUntil([&] { return f.ListView1.Count() == 1; }));
  f.ListView1.AddItem(L"another");
  Click(f.Check6);
  testsupport::PumpFor(50);
  EXPECT_EQ(app::Form1::Value(f.Check6), 0);
  EXPECT_EQ(f.ListView1.Count(), 0u);
  EXPECT_FALSE(::IsClipboardFormatAvailable(CF_UNICODETEXT));
  const auto log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].rfind("Clipboard was clear at ", 0), 0u);
  Close();
  EXPECT_EQ(Stored(L"Files"), L"");
}

TEST_F(ButtonsTest, StartupBoxStoresItsSettingAndTheEntry) {
  app::Form1& f = Open();
  Click(f.Check8);
  EXPECT_EQ(Stored(L"Minimized"), L"On");
  Click(f.Check4);
  EXPECT_EQ(app::Form1::Value(f.Check4), 1);
  EXPECT_TRUE(::IsWindowVisible(f.Check8));
  EXPECT_EQ(app::Form1::Value(f.Check8), 1) << "its value is left as it was";
  EXPECT_EQ(Stored(L"Windows Startup"), L"On");
  EXPECT_EQ(RunValue(),
            startup::RunValueData(win::ProgramFolder(), startup::FileNameOf(win::ExecutablePath())));

  Click(f.Check4);
  EXPECT_EQ(app::Form1::Value(f.Check8), 0);
  EXPECT_FALSE(::IsWindowVisible(f.Check8));
  EXPECT_EQ(Stored(L"Minimized"), L"Off");
  EXPECT_EQ(Stored(L"Windows Startup"), L"Off");
  EXPECT_EQ(RunValue(), L"<absent>");
}

TEST_F(ButtonsTest, PointerFollowsTheMouseUnlessItIsTheHourglass) {
  app::Form1& f = Open();
  const auto moveOver = [&](HWND over) {
    ::SendMessageW(f.hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(over),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  };
  for (HWND button : {f.Check3, f.Check5, f.Check6}) {
    moveOver(f.hwnd());
    EXPECT_EQ(f.MousePointer, app::kPointerDefault);
    moveOver(button);
    EXPECT_EQ(f.MousePointer, app::kPointerCustom);
  }
  moveOver(f.Check4);
  moveOver(f.ListView1.hwnd());
  EXPECT_EQ(f.MousePointer, app::kPointerCustom) << "no rule for the option boxes and the list";
  f.MousePointer = app::kPointerHourglass;
  moveOver(f.Check5);
  moveOver(f.hwnd());
  EXPECT_EQ(f.MousePointer, app::kPointerHourglass);
}

TEST_F(ButtonsTest, DoubleClickRemovesExactlyThatRow) {
  app::Form1& f = Open();
  DoubleClickRow(0);
  EXPECT_EQ(f.ListView1.Count(), 0u) << "an empty list: nothing happens";
  for (const wchar_t* t : {L"one", L"two", L"three"}) f.ListView1.AddItem(t);
  DoubleClickRow(1);
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"one", L"three"}));
  EXPECT_TRUE(Log().empty());
  Close();
  EXPECT_EQ(Stored(L"Files"), L"one;three;");
}

}  // namespace
