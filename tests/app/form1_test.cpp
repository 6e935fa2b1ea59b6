// The main window in-process: start-up from stored settings, layout, minimise to the tray, close.
#include <gtest/gtest.h>

#include "app/window_helpers.h"
#include "form1_fixture.h"

namespace {

using testsupport::Form1Test;
using testsupport::Hex;

TEST_F(Form1Test, FirstStartWithoutSettings) {
  app::Form1& f = Open();
  wchar_t caption[64] = {};
  ::GetWindowTextW(f.hwnd(), caption, 64);
  EXPECT_STREQ(caption, L"Pellucidor");
  EXPECT_EQ(f.ListView1.Count(), 0u);
  EXPECT_EQ(app::Form1::Value(f.Check4), 0);
  EXPECT_EQ(app::Form1::Value(f.Check8), 0);
  EXPECT_TRUE(::IsWindowVisible(f.Check8));
  EXPECT_TRUE(::IsWindowVisible(f.hwnd()));
  EXPECT_FALSE(::IsIconic(f.hwnd()));
  EXPECT_TRUE(f.cSysTray1->IsAdded());
  EXPECT_EQ(f.cSysTray1->TrayTip(), L"Pellucidor");
  EXPECT_FALSE(f.IsLoading);

  RECT r{};
  ::GetWindowRect(f.hwnd(), &r);
  EXPECT_NEAR((r.left + r.right) / 2.0, ::GetSystemMetrics(SM_CXSCREEN) / 2.0, 1.0);
  EXPECT_NEAR((r.top + r.bottom) / 2.0, ::GetSystemMetrics(SM_CYSCREEN) / 2.0, 1.0);
}

TEST_F(Form1Test, RestoresStoredRowsWithoutTypes) {
  Store(L"Files", L"abc;;  ;d;e;");
  app::Form1& f = Open();
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"abc", L"d", L"e"}));
  EXPECT_EQ(f.ListView1.ItemType(1), app::RowType::None);
}

TEST_F(Form1Test, SwitchesAreReadWithoutSideEffects) {
  Store(L"Windows Startup", L"On");
  Store(L"Minimized", L"on");  // not exactly "On": off
  app::Form1& f = Open();
  EXPECT_EQ(app::Form1::Value(f.Check4), 1);
  EXPECT_EQ(app::Form1::Value(f.Check8), 0);
  EXPECT_TRUE(::IsWindowVisible(f.Check8));
  EXPECT_TRUE(::IsWindowVisible(f.hwnd()));
  // Loading neither wrote the start-up entry nor changed the stored switches.
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, testsupport::kScratchRun, L"tests_app.exe", RRF_RT_ANY, nullptr,
                           nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Stored(L"Minimized"), L"on");
}

TEST_F(Form1Test, RecordingGoesOnWhileHiddenInTheTray) {
  app::Form1& f = Open();
  ::ShowWindow(f.hwnd(), SW_MINIMIZE);
  EXPECT_FALSE(::IsWindowVisible(f.hwnd()));
  EXPECT_TRUE(f.IsHiddenInTray);
  ASSERT_TRUE(testsupport::ClipboardFromOtherProcess({L"text=" + Hex(L"while hidden")}));
  EXPECT_TRUE(testsupport::PumpUntil([&] { return f.ListView1.Count() == 1; }));
  DoubleClickTrayIcon(WM_RBUTTONDBLCLK);
  EXPECT_TRUE(::IsWindowVisible(f.hwnd()));
  EXPECT_FALSE(f.IsHiddenInTray);
}

// The tray menu's items, read in the program's own process: another cannot read a menu.
TEST_F(Form1Test, TheTrayMenuOffersShowAndExit) {
  app::Form1& f = Open();
  static std::vector<std::wstring> items;
  // The open menu runs its own message loop: a timer reads the menu from inside it, then dismisses it.
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
    const auto menu =
        reinterpret_cast<HMENU>(::SendMessageW(::FindWindowW(L"#32768", nullptr), MN_GETHMENU, 0, 0));
    if (!menu || !items.empty()) return;
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
      wchar_t text[64] = {};
      ::GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
      items.emplace_back(text);
    }
    ::EndMenu();
  });
  ::SendMessageW(f.cSysTray1->hwnd(), tray::kTrayCallbackMessage, 0, WM_RBUTTONUP);
  ::KillTimer(nullptr, timer);
  EXPECT_EQ(items, (std::vector<std::wstring>{L"Show Pellucidor", L"Exit"}));
}

TEST_F(Form1Test, StartEmptiesTheClipboardWithoutRecordingIt) {
  ASSERT_TRUE(testsupport::ClipboardFromOtherProcess({L"text=" + Hex(L"left over")}));
  app::Form1& f = Open();
  EXPECT_FALSE(::IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_EQ(f.ListView1.Count(), 0u);
  EXPECT_EQ(testsupport::ReadBytes(folder_.File(L"backups.log")), "");
}

TEST_F(Form1Test, CloseStoresEveryRowAndTheNextStartShowsThem) {
  const std::vector<std::wstring> rows = {L"plain", L"a;b",           L"",
                                          L"   ",   L"multi\r\nline", L"caf\u00E9 \u65E5"};
  app::Form1& f = Open();
  for (const auto& r : rows) f.ListView1.AddItem(r);
  Close();
  EXPECT_EQ(app::DecodeFiles(Stored(L"Files")), rows);
  Open();
  EXPECT_EQ(Rows(), rows);
}

TEST_F(Form1Test, SessionEndStoresTheRows) {
  app::Form1& f = Open();
  f.ListView1.AddItem(L"unsaved");
  const DWORD start = ::GetTickCount();
  EXPECT_TRUE(::SendMessageW(f.hwnd(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF));
  ::SendMessageW(f.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  testsupport::ReportSilence("the window", ::GetTickCount() - start);
  EXPECT_EQ(Stored(L"Files"), L"unsaved;");
  EXPECT_FALSE(f.cSysTray1->IsAdded());
}

TEST_F(Form1Test, ControlsStandWhereTheDesignPutsThem) {
  app::Form1& f = Open();
  ASSERT_EQ(app::WindowDpi(f.hwnd()), 96) << "the pixel figures below hold at 96 dots per inch";
  RECT client{};
  ::GetClientRect(f.hwnd(), &client);
  EXPECT_EQ(client.right, 513);
  EXPECT_EQ(client.bottom, 481);
  const struct {
    HWND control;
    RECT expected;  // left, top, right, bottom in client pixels
    int fontHeight;
  } controls[] = {
      {f.Check5, {8, 384, 169, 473}, -15},   {f.Check6, {176, 384, 337, 473}, -15},
      {f.Check3, {344, 384, 505, 473}, -15}, {f.Check4, {8, 360, 270, 382}, -12},
      {f.Check8, {272, 360, 444, 382}, -12}, {f.ListView1.hwnd(), {8, 8, 505, 359}, -12},
  };
  for (const auto& c : controls) {
    RECT r{};
    ::GetWindowRect(c.control, &r);
    ::MapWindowPoints(nullptr, f.hwnd(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_TRUE(::EqualRect(&r, &c.expected)) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    LOGFONTW lf{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(c.control, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
    EXPECT_EQ(lf.lfHeight, c.fontHeight);
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_STREQ(lf.lfFaceName, L"Arial");
  }
  // Tab order, round the window and back to the start.
  const HWND order[] = {f.Check5, f.Check6, f.Check3, f.Check4, f.Check8, f.ListView1.hwnd(), f.Check5};
  for (size_t i = 0; i + 1 < std::size(order); ++i) {
    EXPECT_EQ(::GetNextDlgTabItem(f.hwnd(), order[i], FALSE), order[i + 1]) << "after control " << i;
  }
  const LONG style = ::GetWindowLongW(f.hwnd(), GWL_STYLE);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
}

TEST_F(Form1Test, AnotherDpiScalesTheWholeDesign) {
  app::Form1& f = Open();
  RECT suggested{100, 100, 900, 900};
  ::SendMessageW(f.hwnd(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  RECT r{};
  ::GetWindowRect(f.Check5, &r);
  ::MapWindowPoints(nullptr, f.hwnd(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 12);
  EXPECT_EQ(r.top, 576);
  EXPECT_EQ(r.bottom - r.top, 134);  // 1335 twips at 144 dots per inch
  LOGFONTW lf{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(f.Check5, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
  EXPECT_EQ(lf.lfHeight, -23);
}

TEST_F(Form1Test, ListRemovesByPositionAndReportsNoSelectionWhenEmpty) {
  app::Form1& f = Open();
  EXPECT_FALSE(f.ListView1.SelectedItem().has_value());
  for (const wchar_t* t : {L"one", L"two", L"three", L"two"}) f.ListView1.AddItem(t);
  EXPECT_EQ(f.ListView1.Count(), 4u) << "the list itself enforces no uniqueness";
  f.ListView1.Select(3);
  EXPECT_EQ(f.ListView1.SelectedItem(), 3u);
  f.ListView1.Remove(1);
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"two", L"three", L"two"}));
  EXPECT_EQ(f.ListView1.SelectedItem(), 2u) << "the selection moves up with its row";
}

TEST_F(Form1Test, ListIgnoresPositionsOutsideItsRows) {
  app::Form1& f = Open();
  for (const wchar_t* t : {L"one", L"two", L"three"}) f.ListView1.AddItem(t);
  f.ListView1.SetSubItem(2, app::RowType::Text);
  f.ListView1.Select(2);
  for (const size_t outside : {size_t{0}, size_t{4}, size_t{5}, SIZE_MAX}) {
    f.ListView1.Select(outside);
    f.ListView1.SetSubItem(outside, app::RowType::RichText);
    f.ListView1.Remove(outside);
    f.ListView1.RemoveDeferred(outside);
    EXPECT_EQ(f.ListView1.ItemText(outside), L"") << outside;
    EXPECT_EQ(f.ListView1.ItemType(outside), app::RowType::None) << outside;
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"one", L"two", L"three"})) << outside;
    EXPECT_EQ(ListView_GetSelectedCount(f.ListView1.hwnd()), 1u) << outside;
    EXPECT_EQ(f.ListView1.SelectedItem(), 2u) << outside;
    EXPECT_EQ(f.ListView1.ItemType(2), app::RowType::Text) << outside;
  }
}

TEST_F(Form1Test, TypingFindsTheNextEntryThatStartsWithTheLetters) {
  app::Form1& f = Open();
  for (const wchar_t* t : {L"alpha", L"beta", L"gamma", L"Bravo"}) f.ListView1.AddItem(t);
  const auto find = [&](const wchar_t* letters, int start) {
    NMLVFINDITEMW n{};
    n.hdr.hwndFrom = f.ListView1.hwnd();
    n.hdr.code = LVN_ODFINDITEMW;
    n.iStart = start;
    n.lvfi.flags = LVFI_STRING | LVFI_PARTIAL;
    n.lvfi.psz = letters;
    LRESULT result = -2;
    EXPECT_TRUE(f.ListView1.OnNotify(n.hdr, result));
    return result;
  };
  EXPECT_EQ(find(L"b", 0), 1);
  EXPECT_EQ(find(L"b", 2), 3) << "case does not matter";
  EXPECT_EQ(find(L"al", 2), 0) << "the search wraps round";
  EXPECT_EQ(find(L"zz", 0), -1);
}

TEST(HomePage, OnlyTheDrawOfSevenOpensIt) {
  // n = floor(r * 100) + 1
  EXPECT_TRUE(app::IsHomePageDraw(0.06));
  EXPECT_TRUE(app::IsHomePageDraw(0.0699));
  for (double r : {0.0, 0.0599, 0.07, 0.5, 0.9999}) EXPECT_FALSE(app::IsHomePageDraw(r)) << r;
}

}  // namespace

namespace {

using testsupport::Form1Test;

void StoreRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, testsupport::kSettingsPath.c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), bytes);
  ::RegCloseKey(k);
}

TEST_F(Form1Test, DamagedSettingsAreReadAsFarAsTheyGoAndStoredWellAtClose) {
  const struct {
    const char* what;
    DWORD type;
    std::wstring data;
    std::vector<std::wstring> rows;
  } cases[] = {
      {"binary", REG_BINARY, L"a;b;", {}},
      {"a number", REG_DWORD, std::wstring(2, L'\x0101'), {}},
      {"an inner NUL", REG_SZ, std::wstring(L"a;b\0c;d;\0", 9), {L"a", std::wstring(L"b\0c", 3), L"d"}},
      {"no terminating NUL", REG_SZ, L"x;y", {L"x", L"y"}},
      {"a lone surrogate", REG_SZ, L"\xD800;ok;", {L"\xD800", L"ok"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, testsupport::kSettingsPath);
    StoreRaw(L"Files", c.type, c.data.data(), static_cast<DWORD>(c.data.size() * sizeof(wchar_t)));
    StoreRaw(L"Minimized", REG_DWORD, "\1\0\0\0", 4);
    app::Form1& f = Open();
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(app::Form1::Value(f.Check8), 0);
    Close();
    DWORD type = 0;
    ::RegGetValueW(HKEY_CURRENT_USER, testsupport::kSettingsPath.c_str(), L"Files", RRF_RT_ANY, &type,
                   nullptr, nullptr);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(app::DecodeFiles(Stored(L"Files")), c.rows);
  }
}

}  // namespace
