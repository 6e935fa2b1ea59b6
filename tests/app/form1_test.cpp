// The main window in the test program: start-up from stored settings, the start-up box, the list,
// and what a kill leaves behind.

#include <algorithm>
#include <functional>
#include <optional>
#include <tuple>

#include "history/files_codec.h"
#include "startup/run_value.h"
#include "support/test_support.h"

namespace {

using namespace testsupport;

class Form1Test : public FormTest {
 protected:
  static std::wstring RunValue() { return RegText(kScratchRun, startup::FileNameOf(win::ExecutablePath())); }
};

// Start reads the switches and empties the clipboard, changing nothing else; the start-up box
// stores its setting and the entry, and shows the minimised box only while it is ticked.
TEST_F(Form1Test, SwitchesAreReadWithoutSideEffectsAndTheStartupBoxStoresThem) {
  Store(L"Windows Startup", L"On");
  Store(L"Minimized", L"on");  // not exactly "On": off
  ASSERT_TRUE(testsupport::Copy({Text(L"left over")}));
  app::Form1& f = Open();
  EXPECT_EQ(std::tuple(app::Form1::Value(f.Check4), app::Form1::Value(f.Check8), Stored(L"Minimized")),
            std::tuple(1, 0, L"on"));
  EXPECT_TRUE(::IsWindowVisible(f.hwnd()));
  wchar_t name[32] = {};
  ::GetWindowTextW(f.ListView1.hwnd(), name, 32);
  EXPECT_STREQ(name, L"Saved Clipboard Entries") << "the list's name, for screen readers";
  EXPECT_FALSE(::IsClipboardFormatAvailable(CF_UNICODETEXT));
  Copy(L"marker");
  EXPECT_EQ(Rows(), Texts{L"marker"}) << "what was there before is not recorded";
  EXPECT_EQ(RunValue(), L"<absent>") << "loading writes no start-up entry";
  ::SendMessageW(f.Check4, BM_CLICK, 0, 0);  // off
  EXPECT_FALSE(::IsWindowVisible(f.Check8));
  ::SendMessageW(f.Check4, BM_CLICK, 0, 0);  // on
  ::SendMessageW(f.Check8, BM_CLICK, 0, 0);
  EXPECT_EQ(
      std::tuple(Stored(L"Windows Startup"), Stored(L"Minimized"), RunValue()),
      std::tuple(L"On", L"On",
                 startup::RunValueData(win::ProgramFolder(), startup::FileNameOf(win::ExecutablePath()))));
  EXPECT_TRUE(::IsWindowVisible(f.Check8));
  ::SendMessageW(f.Check4, BM_CLICK, 0, 0);
  EXPECT_EQ(app::Form1::Value(f.Check8), 0);
  EXPECT_FALSE(::IsWindowVisible(f.Check8));
  EXPECT_EQ(std::tuple(Stored(L"Windows Startup"), Stored(L"Minimized"), RunValue()),
            std::tuple(L"Off", L"Off", L"<absent>"));
}

// A row removed moves the selection up with its row; typed letters find the next row that starts
// with them, in any case, going round.
TEST_F(Form1Test, ListKeepsItsSelectionAndFindsTypedLetters) {
  app::HistoryListView& list = Open().ListView1;
  for (const wchar_t* t : {L"zero", L"one", L"two", L"three"}) list.AddItem(t);
  list.Select(3);
  list.Remove(1);
  EXPECT_EQ(list.SelectedItem(), 2u);
  NMLVFINDITEMW find{};
  find.hdr = {list.hwnd(), 0, static_cast<UINT>(LVN_ODFINDITEMW)};
  for (const auto& [letters, start, found] :
       {std::tuple{L"T", 0, 1}, {L"t", 2, 2}, {L"o", 2, 0}, {L"z", 0, -1}}) {
    LRESULT result = -2;
    find.lvfi = {LVFI_STRING | LVFI_PARTIAL, letters, 0, {}, 0};
    find.iStart = start;
    EXPECT_TRUE(list.OnNotify(find.hdr, result));
    EXPECT_EQ(result, found) << start;
  }
}

// The vertical scroll bar as the list last painted it whole.
SCROLLBARINFO g_painted{};
LRESULT CALLBACK NoteNcPaint(HWND h, UINT msg, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
  SCROLLBARINFO now{};
  now.cbSize = sizeof(now);
  if (msg == WM_NCPAINT && ::GetScrollBarInfo(h, OBJID_VSCROLL, &now) &&
      (w == 1 || ::RectInRegion(reinterpret_cast<HRGN>(w), &now.rcScrollBar)))
    g_painted = now;
  return ::DefSubclassProc(h, msg, w, l);
}

// Rows that keep coming reach the control together; the scroll bar, painted less often meanwhile,
// is painted as it stands once they stop, also soon after it was painted last.
TEST_F(Form1Test, RowsThatKeepComingEndWithTheScrollBarPaintedAsItStands) {
  app::HistoryListView& list = Open().ListView1;
  ASSERT_TRUE(::SetWindowSubclass(list.hwnd(), NoteNcPaint, 1, 0));
  SCROLLBARINFO now{};
  now.cbSize = sizeof(now);
  for (const int rows : {100, 150}) {
    while (list.Count() < static_cast<size_t>(rows)) {
      list.AddItem(L"row " + std::to_wstring(list.Count()));
      win::DoEvents();
    }
    EXPECT_TRUE(PumpUntil([&] {
      return ::SendMessageW(list.hwnd(), LVM_GETITEMCOUNT, 0, 0) == rows &&
             ::GetScrollBarInfo(list.hwnd(), OBJID_VSCROLL, &now) &&
             !(now.rgstate[0] & STATE_SYSTEM_INVISIBLE) &&
             std::tuple(g_painted.xyThumbTop, g_painted.xyThumbBottom, g_painted.rgstate[0]) ==
                 std::tuple(now.xyThumbTop, now.xyThumbBottom, now.rgstate[0]);
    })) << rows;
  }
  ::RemoveWindowSubclass(list.hwnd(), NoteNcPaint, 1);
}

// The buttons, a double-click and the keys act on the selected row, the keys on nothing when no row
// is selected. Keys are pressed for real: the list must have the keyboard, and Ctrl must be held.
TEST_F(Form1Test, ButtonsClicksAndKeysActOnTheSelectedRow) {
  app::Form1& f = Open();
  const HWND list = f.ListView1.hwnd();
  const Texts copies = {L"one", L"two \u0416", L"three", L"four"};
  for (const auto& c : copies) Copy(c);
  f.ListView1.Select(2);
  ::SendMessageW(f.Check5, BM_CLICK, 0, 0);
  EXPECT_EQ(ClipboardText(), L"two \u0416");
  EXPECT_EQ(::GetClipboardOwner(), f.hwnd()) << "put there by the window, not by nobody";
  const struct {
    std::vector<std::pair<int, const char*>> steps;  // a row clicked (-1: below the rows), keys pressed
    Texts rows;
    std::wstring clipboard;
    size_t putLines;  // log lines after the four added
  } cases[] = {
      {{{2, "Return"}}, copies, L"three", 2},
      {{{3, "ctrl+c"}}, copies, L"four", 3},
      {{{-1, "Delete Return ctrl+c"}, {0, "Delete"}}, {copies.begin() + 1, copies.end()}, L"four", 3}};
  for (const auto& c : cases) {
    std::string input;
    for (const auto& [row, keys] : c.steps) {
      RECT r{};
      (void)(row < 0 ? ::GetClientRect(list, &r) : ListView_GetItemRect(list, row, &r, LVIR_BOUNDS));
      POINT at{r.left + 20, row < 0 ? r.bottom - 8 : (r.top + r.bottom) / 2};
      ::ClientToScreen(list, &at);
      input += "mousemove --sync " + std::to_string(at.x) + " " + std::to_string(at.y) + " click 1 key " +
               keys + " ";
    }
    Xdotool(f.hwnd(), input);
    EXPECT_TRUE(PumpUntil(
        [&] {
          return Rows() == c.rows && ClipboardText() == c.clipboard &&
                 LogLines().size() == copies.size() + c.putLines;
        },
        15000))
        << input << testing::PrintToString(Rows()) << testing::PrintToString(ClipboardText());
  }
  RECT r{};
  ListView_GetItemRect(list, 0, &r, LVIR_BOUNDS);
  for (const UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
    ::SendMessageW(list, m, m == WM_LBUTTONUP ? 0 : MK_LBUTTON,
                   MAKELPARAM(r.left + 20, (r.top + r.bottom) / 2));
  EXPECT_EQ(Rows(), (Texts{L"three", L"four"})) << "a double-click removes the row";
  ::SendMessageW(f.Check6, BM_CLICK, 0, 0);
  EXPECT_EQ(app::Form1::Value(f.Check5) + app::Form1::Value(f.Check6), 0) << "the buttons come back up";
  EXPECT_TRUE(Rows().empty());
  EXPECT_FALSE(::IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_EQ(LogLines().back().rfind("Clipboard was clear at ", 0), 0u);
  Close();
  Open();
  EXPECT_TRUE(Rows().empty());
}

// A stored list is read as far as it goes, whatever another program left in it; a switch that is
// not text reads as off.
TEST_F(Form1Test, DamagedSettingsAreReadAsFarAsTheyGo) {
  const struct {
    std::wstring data;
    Texts rows;
  } cases[] = {{std::wstring(L"a;b\0c;d;\0", 9), {L"a", std::wstring(L"b\0c", 3), L"d"}},
               {L"x;y", {L"x", L"y"}},  // no terminating NUL
               {L"\xD800;ok;", {L"\xD800", L"ok"}}};
  for (const auto& c : cases) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsPath, L"Files", REG_SZ, c.data.data(),
                      static_cast<DWORD>(c.data.size() * sizeof(wchar_t)));
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsPath, L"Minimized", REG_DWORD, "\1\0\0\0", 4);
    EXPECT_EQ(app::Form1::Value(Open().Check8), 0);
    EXPECT_EQ(Rows(), c.rows);
    Close();
    EXPECT_EQ(StoredRows(), c.rows);
    for (const auto& f : std::filesystem::directory_iterator(std::filesystem::path(folder_.path())))
      std::filesystem::remove(f.path());  // the next value is read as a first start reads it
  }
}

}  // namespace
