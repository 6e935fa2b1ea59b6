// The main window in the test program: start-up from stored settings, the start-up box, the list,
// and what a kill leaves behind.

#include <algorithm>
#include <functional>
#include <optional>
#include <tuple>

#include "history/files_codec.h"
#include "history/journal_codec.h"
#include "startup/run_value.h"
#include "support/test_support.h"

namespace {

using namespace testsupport;

class Form1Test : public FormTest {
 protected:
  std::wstring Journal() const { return folder_.File(L"history.journal"); }
  // Ends the window as a kill would have left it: the stored list and the journals as given.
  void Killed(const std::wstring& files, const std::string& journal) {
    Close();
    Store(L"Files", files);
    ASSERT_TRUE(WriteBytes(Journal(), journal));
  }
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

TEST_F(Form1Test, ListIgnoresPositionsOutsideItsRowsAndFindsTypedLetters) {
  app::HistoryListView& list = Open().ListView1;
  for (const wchar_t* t : {L"zero", L"one", L"two", L"three"}) list.AddItem(t);
  list.Select(3);
  list.Remove(1);
  EXPECT_EQ(list.SelectedItem(), 2u) << "the selection moves up with its row";
  list.SetSubItem(2, history::RowType::Text);
  for (const size_t outside : {size_t{0}, size_t{4}, SIZE_MAX}) {
    list.Select(outside);
    list.SetSubItem(outside, history::RowType::RichText);
    list.Remove(outside);
    list.RemoveDeferred(outside);
    EXPECT_EQ(std::tuple(list.ItemText(outside), Rows(), list.SelectedItem(), list.ItemType(2)),
              std::tuple(L"", Texts{L"one", L"two", L"three"}, 2u, history::RowType::Text))
        << outside;
  }
  // Typed letters find the next row that starts with them, in any case, going round.
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

// A stored list that is not text is left as it is; one that is, is read as far as it goes.
TEST_F(Form1Test, DamagedSettingsAreReadAsFarAsTheyGoAndNeverReplacedUnread) {
  const struct {
    DWORD type;
    std::wstring data;
    Texts rows;
  } cases[] = {{REG_BINARY, L"a;b;", {}},
               {REG_DWORD, std::wstring(2, L'\x0101'), {}},
               {REG_SZ, std::wstring(L"a;b\0c;d;\0", 9), {L"a", std::wstring(L"b\0c", 3), L"d"}},
               {REG_SZ, L"x;y", {L"x", L"y"}},  // no terminating NUL
               {REG_SZ, L"\xD800;ok;", {L"\xD800", L"ok"}}};
  for (const auto& c : cases) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsPath, L"Files", c.type, c.data.data(),
                      static_cast<DWORD>(c.data.size() * sizeof(wchar_t)));
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsPath, L"Minimized", REG_DWORD, "\1\0\0\0", 4);
    EXPECT_EQ(app::Form1::Value(Open().Check8), 0);
    EXPECT_EQ(Rows(), c.rows);
    Close();
    DWORD type = 0;
    ::RegGetValueW(HKEY_CURRENT_USER, kSettingsPath, L"Files", RRF_RT_ANY, &type, nullptr, nullptr);
    EXPECT_EQ(type, c.type);
    EXPECT_TRUE(type != REG_SZ || StoredRows() == c.rows);
  }
}

// Whatever moment of storing the list whole a kill comes at, the next start brings back every row
// once: the list stored and its new journal under its own name still; the old journal still in the
// new one's place; the store lost (a power cut while the system held it), the journals on disk.
TEST_F(Form1Test, WhatAKillLeavesComesBackOnce) {
  Store(L"Files", L"kept;");
  Open().ListView1.AddItem(L"one");
  const std::wstring before = Stored(L"Files");
  const std::string old = ReadBytes(Journal());
  ASSERT_TRUE(form_->SaveEntries());
  const std::wstring stored = Stored(L"Files");
  form_->ListView1.AddItem(L"two");
  const std::string kept = ReadBytes(Journal() + L".prev"), fresh = ReadBytes(Journal());
  const struct {
    const char* moment;
    std::wstring files;
    std::string journal, prev, next;
    Texts rows;
  } cases[] = {
      {"before the new journal took its place", stored, "", kept, fresh, {L"kept", L"one", L"two"}},
      {"before the old journal made way", stored, kept, "", "", {L"kept", L"one"}},  // marked where stored
      {"after the store was lost", before, fresh, kept, "", {L"kept", L"one", L"two"}},
      {"before the store", before, old, "", "", {L"kept", L"one"}},
  };
  for (const auto& c : cases) {
    Close();
    Store(L"Files", c.files);
    const std::pair<const wchar_t*, std::string> files[] = {
        {L"", c.journal}, {L".prev", c.prev}, {L".next", c.next}};
    for (const auto& [end, bytes] : files)
      ASSERT_TRUE(bytes.empty() ? (::DeleteFileW((Journal() + end).c_str()), true)
                                : WriteBytes(Journal() + end, bytes));
    Open();
    EXPECT_EQ(Rows(), c.rows) << c.moment;
  }
}

// Left running, the program stores the list whole once the journal outgrows it, and the journal
// starts afresh for the list stored: it never grows without bound, and goes on after.
TEST_F(Form1Test, AJournalThatOutgrowsTheListIsFoldedIntoIt) {
  app::Form1& f = Open();
  const std::wstring big(1u << 20, L'x');  // 2 MB a record
  for (wchar_t c : std::wstring(L"abcd")) f.ListView1.AddItem(std::wstring(1, c) + big);
  f.ListView1.AddItem(L"e");  // the change after the journal passed 8 MB asks for it
  ASSERT_TRUE(
      PumpUntil([&] { return ReadBytes(Journal()).size() < 100 && Stored(L"Files").size() > 1000; }, 30000));
  const std::wstring files = Stored(L"Files");
  EXPECT_EQ(history::DecodeFiles(files).size(), 5u);
  EXPECT_EQ(history::ParseJournal(ReadBytes(Journal())).base, history::StoredListId(files));
  f.ListView1.AddItem(L"last");  // journaled after the fold: a kill now loses nothing
  Killed(files, ReadBytes(Journal()));
  Open();
  EXPECT_EQ(Rows().back(), L"last");
}

// Whatever the machine refuses, no entry the log says was added is lost and nothing is replaced
// that could not be read: the stored list or the journal unreadable at start, the journal held by
// another program, a store that never reached the disk, a full disk at start or while the list is
// stored whole (what it refuses waits, and goes out in order once there is room; no line or record
// is left half written). Each run ends as a kill would leave it.
TEST_F(Form1Test, WhatTheMachineRefusesLosesNoEntry) {
  const auto small = SmallDisk();
  std::optional<TempFolder> smallFolder;
  if (small) smallFolder.emplace(*small);
  enum Refusal {
    kUnreadableList,
    kUnreadableJournal,
    kHeldJournal,
    kStoreNotOnDisk,
    kFullAtStart,
    kFullInFold
  };
  const struct {
    const char* what;
    Refusal refusal;
    uint64_t foldAfter;
  } cases[] = {{"the stored list unreadable", kUnreadableList, 0},
               {"the journal unreadable", kUnreadableJournal, 0},
               {"the journal held while the list is stored whole", kHeldJournal, 1},
               {"the newest stored list never on the disk", kStoreNotOnDisk, 1},
               {"a full disk at start", kFullAtStart, 0},
               {"a full disk while the list is stored whole", kFullInFold, 1}};
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bool onSmallDisk = c.refusal == kFullAtStart || c.refusal == kFullInFold;
    if (onSmallDisk && !small) {
      std::printf("skipped: %s (no size-limited folder: mounting one needs root)\n", c.what);
      continue;
    }
    const std::wstring folder = onSmallDisk ? smallFolder->path() : folder_.path();
    const std::wstring journal = folder + L"\\history.journal", log = folder + L"\\backups.log";
    const std::wstring tag = std::to_wstring(++round) + L" ";
    const wchar_t* const ends[] = {L"", L".prev", L".next", L".side"};
    (void)::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsPath);
    for (const wchar_t* end : ends) (void)::DeleteFileW((journal + end).c_str());
    // What a kill leaves: the stored list (or, where the store never reached the disk, the one
    // before) and the journals as they are at that moment.
    const auto killed = [&](const std::function<void()>& lift, bool storeLost = false) {
      lift();  // first, or the test itself could not read what is there
      const std::wstring before = Stored(L"Files");
      if (storeLost) Close();
      const std::wstring files = Stored(L"Files");
      std::vector<std::string> bytes;
      for (const wchar_t* end : ends) bytes.push_back(ReadBytes(journal + end));
      Close();
      (void)::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsPath);
      if ((storeLost ? before : files) != L"<absent>") Store(L"Files", storeLost ? before : files);
      for (size_t i = 0; i < bytes.size(); ++i) (void)WriteBytes(journal + ends[i], bytes[i]);
    };
    // An earlier run that was killed: its copies are in the journal alone.
    Store(L"Files", tag + L"stored;");
    Open(folder);
    if (!onSmallDisk) {
      Copy(tag + L"earlier");
      killed([] {});
    }
    std::wstring filler;
    win::UniqueFile held;
    win::UniqueHkey key;
    ACL none{};
    ::InitializeAcl(&none, sizeof(none), ACL_REVISION);
    const auto setAccess = [&](PACL dacl) {
      SECURITY_DESCRIPTOR sd{};
      ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
      ::SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE);
      return ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &sd) == ERROR_SUCCESS;
    };
    if (c.refusal == kUnreadableList) {
      HKEY raw = nullptr;
      ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsPath, 0, WRITE_DAC, &raw), ERROR_SUCCESS);
      key.reset(raw);
      ASSERT_TRUE(setAccess(&none));  // nobody may read it now
      ASSERT_EQ(settings_.Read(L"Files").state, history::SettingRead::kUnreadable);
    } else if (c.refusal == kUnreadableJournal) {
      held.reset(::CreateFileW(journal.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held);
    } else if (c.refusal == kFullAtStart) {
      filler = FillDisk(folder);
    }
    foldAfterBytes_ = c.foldAfter;
    Open(folder);
    if (c.refusal == kHeldJournal) {  // as a scanner would, letting it be written but not moved
      held.reset(::CreateFileW(journal.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held);
    } else if (c.refusal == kFullInFold) {
      filler = FillDisk(folder);
    }
    Copy(tag + L"while refused " + std::wstring(20000, L'r'));  // longer than the slack of a full disk
    // The change after the journal outgrew the list asks for it to be stored whole (once the mark
    // for it finds room on the disk).
    if (c.foldAfter) Copy(tag + L"the next one");
    if (!filler.empty()) ::DeleteFileW(filler.c_str());
    Copy(tag + L"with room");
    ASSERT_TRUE(!c.foldAfter || PumpUntil([&] { return StoredRows().size() >= 2; })) << "stored whole";
    killed(
        [&] {
          held.reset();
          if (key) (void)setAccess(nullptr);
        },
        c.refusal == kStoreNotOnDisk);
    foldAfterBytes_ = 0;
    Open(folder);
    const Texts rows = Rows();
    const auto listed = [&](const std::wstring& t) {
      return std::find(rows.begin(), rows.end(), t) != rows.end();
    };
    for (const std::wstring& logged : AddedInLog(testsupport::LogLines(log)))
      EXPECT_TRUE(logged.rfind(tag, 0) != 0 || listed(logged)) << logged.substr(0, 40);
    EXPECT_TRUE(listed(tag + L"with room"));
    const std::string logBytes = ReadBytes(log);
    EXPECT_EQ(logBytes.substr(logBytes.size() - 2), "\r\n") << "no line half written";
    EXPECT_EQ(
        std::count_if(rows.begin(), rows.end(), [&](const std::wstring& t) { return t.rfind(tag, 0) == 0; }),
        3 + !onSmallDisk + (c.foldAfter != 0))
        << "each once";
    Close();
  }
}

}  // namespace
