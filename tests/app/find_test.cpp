// Finding an entry by any part of its text, on the real window: the Find dialog opened by Ctrl+F
// wherever the keyboard is, its Find Next, F3 and Shift+F3, the dialog hidden and shown with the
// window, and rows that change while it is open or while a search is under way.

#include "app/find_in_list.h"
#include "support/test_support.h"

#include <dlgs.h>

namespace {

using namespace testsupport;

class FindTest : public FormTest {
 protected:
  // Six rows to find, then many more, so that a row found may be out of view.
  app::Form1& OpenWithRows() {
    app::Form1& f = Open();
    for (const wchar_t* r :
         {L"alpha one", L"Beta two", L"\u00E9t\u00E9 \u03C9 Paris", L"", L"alpha again", L"ALPHA loud"})
      f.ListView1.AddItem(*r ? r : std::wstring(3000, L'-') + L" buried treasure");
    for (int i = 0; i < 300; ++i) f.ListView1.AddItem(L"filler " + std::to_wstring(i));
    return f;
  }
  bool IsOpen() const { return Dialog() && ::IsWindowVisible(Dialog()); }
  HWND Dialog() const { return form_->Find().dialog(); }
  std::optional<size_t> Selected() const { return form_->ListView1.SelectedItem(); }
  // Real keys, with the keyboard on the main window; then waits for done.
  bool Keys(const std::string& keys, const std::function<bool()>& done, HWND to = nullptr) {
    Xdotool(to ? to : form_->hwnd(), "key " + keys);
    return PumpUntil(done, 15000);
  }
  // Find Next in the open dialog, as a click on its button makes it.
  void FindNext(const std::wstring& text, bool matchCase, bool down) {
    const HWND d = Dialog();
    ::SetDlgItemTextW(d, edt1, text.c_str());
    ::CheckDlgButton(d, chx2, matchCase ? BST_CHECKED : BST_UNCHECKED);
    ::CheckRadioButton(d, rad1, rad2, down ? rad2 : rad1);
    ::SendMessageW(::GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !form_->Find().Searching(); }));
  }
};

// Each search starts from the selection (none: 0; as the last one left it: kKeep) and leaves the row
// found selected, focused and in view, or the selection as it was. F3 and Shift+F3 work in the
// dialog and, once it is closed, in the window.
TEST_F(FindTest, FindNextF3AndShiftF3SelectTheNextRowHoldingTheText) {
  app::Form1& f = OpenWithRows();
  const HWND list = f.ListView1.hwnd();
  ASSERT_TRUE(Keys("F3", [&] { return IsOpen(); })) << "nothing searched yet: F3 opens the dialog";
  constexpr size_t kKeep = SIZE_MAX;
  const struct {
    size_t from;
    const char* keys;  // real keys instead of the dialog's Find Next, to the dialog while it is open
    std::wstring text;
    bool matchCase, down;
    size_t selected;
  } cases[] = {
      {1, nullptr, L"alpha", false, true, 5},                 // after the selection
      {1, nullptr, L"FILLER 299", false, true, 306},          // out of view
      {6, nullptr, L"alpha", false, true, 1},                 // round past the end
      {5, nullptr, L"alpha", false, false, 1},                // upward
      {0, nullptr, L"alpha", true, false, 5},                 // none selected, upward: from the last
      {5, nullptr, L"ALPHA", false, true, 6},                 // case ignored
      {1, nullptr, L"ALPHA", true, true, 6},                  // case matched
      {1, nullptr, L"\u00C9T\u00C9 \u03A9", false, true, 3},  // in any script
      {1, nullptr, L"\u00C9T\u00C9", true, true, 1},          // not found: the selection stays
      {2, nullptr, L"TREASURE", false, true, 4},              // past what the column shows
      {4, nullptr, L"nowhere", false, true, 4},               // not found
      {1, nullptr, L"alpha", false, true, 5},                 //
      {kKeep, "F3", L"", false, true, 6},                     // the same again
      {kKeep, "Escape", L"", false, true, 6},                 //
      {kKeep, "F3", L"", false, true, 1},                     // without the dialog
      {kKeep, "shift+F3", L"", false, true, 6},               // the other way
  };
  bool open = true;
  for (const auto& c : cases) {
    if (c.from != kKeep) {
      ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
      f.ListView1.Select(c.from);
    }
    if (c.keys) {
      open = open && std::string(c.keys) != "Escape";
      EXPECT_TRUE(Keys(
          c.keys, [&] { return Selected() == c.selected && (Dialog() != nullptr) == open; }, Dialog()))
          << c.keys;
    } else {
      FindNext(c.text, c.matchCase, c.down);
    }
    EXPECT_EQ(Selected(), c.selected) << testing::PrintToString(c.text) << " from " << c.from;
    const int found = static_cast<int>(c.selected) - 1;
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), found);
    RECT row{}, client{};
    ListView_GetItemRect(list, found, &row, LVIR_BOUNDS);
    ::GetClientRect(list, &client);
    EXPECT_TRUE(c.selected == c.from || (row.top >= client.top && row.bottom <= client.bottom)) << found;
  }
}

// Ctrl+F opens the dialog wherever the keyboard is, brings it back to the front when it is open, and
// shows the last text searched for; a text typed in any script finds its row; Escape closes it and
// gives the keyboard back, to the row found when there is one. Hidden with the window, the dialog
// comes back with it.
TEST_F(FindTest, CtrlFOpensTheDialogEverywhereEscapeGivesTheKeyboardBackAndRowsMayChange) {
  app::Form1& f = OpenWithRows();
  const auto open = [&] { return IsOpen(); };
  for (const HWND control : {f.Check5, f.Check6, f.Check4, f.ListView1.hwnd()}) {
    ::SetFocus(control);
    ASSERT_TRUE(Keys("ctrl+f", open)) << ::GetDlgCtrlID(control);
    ASSERT_TRUE(Keys(
        "Escape", [&] { return !Dialog(); }, Dialog()));
    EXPECT_TRUE(PumpUntil([&] { return ::GetFocus() == control; })) << ::GetDlgCtrlID(control);
  }
  // Typed with real keys beyond the ANSI code page (xdotool binds each to a spare key, kept while
  // Wine reads it), in the other case: Enter finds the row. Pressed again while the dialog takes none.
  ASSERT_TRUE(Keys("ctrl+f", open));
  const auto typed = [&] {
    wchar_t text[8] = {};
    return ::GetDlgItemTextW(Dialog(), edt1, text, 8) && std::wstring(text) == L"\u03A9";
  };
  for (int attempt = 0; attempt < 3 && !typed(); ++attempt) {
    ::SetDlgItemTextW(Dialog(), edt1, L"");
    (void)Keys("--delay 300 U03A9", typed, Dialog());
  }
  EXPECT_TRUE(Keys(
      "Return", [&] { return Selected() == 3u; }, Dialog()));
  FindNext(L"treasure", false, true);
  ::SetActiveWindow(f.hwnd());
  ASSERT_EQ(::GetActiveWindow(), f.hwnd());
  EXPECT_TRUE(Keys("ctrl+f", [&] { return ::GetActiveWindow() == Dialog(); })) << "to the front";
  ::ShowWindow(f.hwnd(), SW_MINIMIZE);
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindowVisible(f.hwnd()) && !::IsWindowVisible(Dialog()); }));
  ::SendMessageW(f.hwnd(), app::kShowRunningCopy, 0, 0);
  EXPECT_TRUE(PumpUntil(open)) << "back with the window";
  ASSERT_TRUE(Keys("ctrl+f", [&] { return ::GetActiveWindow() == Dialog(); }));
  ASSERT_TRUE(Keys(
      "Escape", [&] { return !Dialog(); }, Dialog()));
  EXPECT_TRUE(PumpUntil([&] { return ::GetFocus() == f.ListView1.hwnd(); })) << "on the row found";
  EXPECT_EQ(Selected(), 4u);
  ASSERT_TRUE(Keys("ctrl+f", open));
  wchar_t text[32] = {};
  ::GetDlgItemTextW(Dialog(), edt1, text, 32);
  EXPECT_STREQ(text, L"treasure") << "the last text searched for";
  // Rows cleared or added while it is open: Find Next looks at the rows as they are now.
  f.ListView1.Clear();
  FindNext(L"treasure", false, true);
  f.ListView1.AddItem(L"treasure again");
  FindNext(L"treasure", false, true);
  EXPECT_EQ(Selected(), 1u);
  // A copy, or the selected row removed, while a long search is under way: it still ends in a row.
  f.ListView1.AddItem(std::wstring(size_t{1} << 24, L'x'));  // many slices to read with case ignored
  f.ListView1.AddItem(L"XXXXXXXXXY");
  for (const bool copy : {true, false}) {
    f.ListView1.Select(1);
    f.Find().Search(L"xxxxxxxxxy", false, true);
    copy ? Copy(L"copied meanwhile") : f.ListView1.Remove(1);
    EXPECT_TRUE(PumpUntil([&] { return !f.Find().Searching(); }, 60000));
    EXPECT_EQ(f.ListView1.ItemText(Selected().value_or(0)), L"XXXXXXXXXY") << copy;
  }
}

}  // namespace
