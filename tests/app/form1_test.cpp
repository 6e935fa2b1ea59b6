// The main window in-process: start-up from stored settings, the start-up box, the list, session
// end, and the journal that brings back the changes of a run that never closed.
#include <gtest/gtest.h>

#include "history/files_codec.h"
#include "app/form1.h"
#include "history/journal_codec.h"
#include "history/settings.h"
#include "clip/save_log.h"
#include "startup/regstuff.h"
#include "startup/run_value.h"
#include "support/test_support.h"
#include "win/module.h"

namespace {

inline const std::wstring kSettingsPath = app::SettingsKeyPath(app::kSettingsApp, app::kSettingsSection);
inline constexpr wchar_t kScratchRun[] = L"Software\\PellucidorTests\\Run";

// A fresh main window in this process, with scratch settings, log folder and Run keys.
class Form1Test : public testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsPath.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratchRun);
    HKEY k = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, kScratchRun, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    ::RegCloseKey(k);
  }
  void TearDown() override { form_.reset(); }

  static void Store(const wchar_t* key, const std::wstring& value) {
    ASSERT_TRUE(app::SaveSetting(app::kSettingsApp, app::kSettingsSection, key, value));
  }
  static std::wstring Stored(const wchar_t* key) {
    return app::GetSetting(app::kSettingsApp, app::kSettingsSection, key, L"<absent>");
  }
  app::Form1& Open() {
    form_ = std::make_unique<app::Form1>(
        app::Form1Options{[] { return 0.5; },
                          false,
                          folder_.File(L"history.journal"),
                          {HKEY_CURRENT_USER, kScratchRun, HKEY_CURRENT_USER, kScratchRun},
                          {folder_.path(), folder_.File(L"fallback")}});
    EXPECT_TRUE(form_->Create(::GetModuleHandleW(nullptr)));
    return *form_;
  }
  void Close() {
    ::SendMessageW(form_->hwnd(), WM_CLOSE, 0, 0);
    form_.reset();
  }
  std::vector<std::wstring> Rows() const {
    std::vector<std::wstring> rows;
    for (size_t i = 1; i <= form_->ListView1.Count(); ++i) rows.emplace_back(form_->ListView1.ItemText(i));
    return rows;
  }

  testsupport::TempFolder folder_;
  std::unique_ptr<app::Form1> form_;
};

TEST_F(Form1Test, SwitchesAreReadWithoutSideEffects) {
  Store(L"Windows Startup", L"On");
  Store(L"Minimized", L"on");  // not exactly "On": off
  app::Form1& f = Open();
  EXPECT_EQ(app::Form1::Value(f.Check4), 1);
  EXPECT_EQ(app::Form1::Value(f.Check8), 0);
  EXPECT_TRUE(::IsWindowVisible(f.hwnd()));
  // Loading neither wrote the start-up entry nor changed the stored switches.
  EXPECT_EQ(
      ::RegGetValueW(HKEY_CURRENT_USER, kScratchRun, L"tests_app.exe", RRF_RT_ANY, nullptr, nullptr, nullptr),
      ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Stored(L"Minimized"), L"on");
}

TEST_F(Form1Test, StartEmptiesTheClipboardWithoutRecordingIt) {
  ASSERT_TRUE(testsupport::Copy({testsupport::Text(L"left over")}));
  app::Form1& f = Open();
  EXPECT_FALSE(::IsClipboardFormatAvailable(CF_UNICODETEXT));
  ASSERT_TRUE(testsupport::Copy({testsupport::Text(L"marker")}));
  ASSERT_TRUE(testsupport::PumpUntil([&] { return f.ListView1.Contains(L"marker"); }));
  EXPECT_EQ(Rows(), std::vector<std::wstring>{L"marker"});
  EXPECT_EQ(testsupport::LogLines(folder_.File(L"backups.log")).size(), 1u);
}

TEST_F(Form1Test, SessionEndStoresTheRows) {
  app::Form1& f = Open();
  f.ListView1.AddItem(L"unsaved");
  EXPECT_TRUE(::SendMessageW(f.hwnd(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF));
  ::SendMessageW(f.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(Stored(L"Files"), L"unsaved;");
  EXPECT_FALSE(f.cSysTray1->IsAdded());
}

TEST_F(Form1Test, StartupBoxStoresItsSettingAndTheEntry) {
  app::Form1& f = Open();
  const auto runValue = [] {
    wchar_t data[512] = {};
    DWORD size = sizeof(data);
    const std::wstring name = startup::FileNameOf(win::ExecutablePath());
    return ::RegGetValueW(HKEY_CURRENT_USER, kScratchRun, name.c_str(), RRF_RT_REG_SZ, nullptr, data,
                          &size) == ERROR_SUCCESS
               ? std::wstring(data)
               : L"<absent>";
  };
  ::SendMessageW(f.Check8, BM_CLICK, 0, 0);
  EXPECT_EQ(Stored(L"Minimized"), L"On");
  ::SendMessageW(f.Check4, BM_CLICK, 0, 0);
  EXPECT_TRUE(::IsWindowVisible(f.Check8));
  EXPECT_EQ(app::Form1::Value(f.Check8), 1) << "its value is left as it was";
  EXPECT_EQ(Stored(L"Windows Startup"), L"On");
  EXPECT_EQ(runValue(),
            startup::RunValueData(win::ProgramFolder(), startup::FileNameOf(win::ExecutablePath())));
  ::SendMessageW(f.Check4, BM_CLICK, 0, 0);
  EXPECT_EQ(app::Form1::Value(f.Check8), 0);
  EXPECT_FALSE(::IsWindowVisible(f.Check8));
  EXPECT_EQ(Stored(L"Minimized"), L"Off");
  EXPECT_EQ(Stored(L"Windows Startup"), L"Off");
  EXPECT_EQ(runValue(), L"<absent>");
}

TEST_F(Form1Test, ListIgnoresPositionsOutsideItsRows) {
  app::Form1& f = Open();
  EXPECT_FALSE(f.ListView1.SelectedItem().has_value());
  for (const wchar_t* t : {L"zero", L"one", L"two", L"three"}) f.ListView1.AddItem(t);
  f.ListView1.Select(3);
  f.ListView1.Remove(1);
  EXPECT_EQ(f.ListView1.SelectedItem(), 2u) << "the selection moves up with its row";
  f.ListView1.SetSubItem(2, app::RowType::Text);
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
  const struct {
    const wchar_t* letters;
    int start;
    LRESULT found;
  } cases[] = {{L"b", 0, 1}, {L"b", 2, 3}, {L"al", 2, 0}, {L"zz", 0, -1}};  // any case; wraps round
  for (const auto& c : cases) {
    NMLVFINDITEMW n{};
    n.hdr.hwndFrom = f.ListView1.hwnd();
    n.hdr.code = LVN_ODFINDITEMW;
    n.iStart = c.start;
    n.lvfi.flags = LVFI_STRING | LVFI_PARTIAL;
    n.lvfi.psz = c.letters;
    LRESULT result = -2;
    EXPECT_TRUE(f.ListView1.OnNotify(n.hdr, result));
    EXPECT_EQ(result, c.found) << c.letters << " from " << c.start;
  }
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
  const auto storeRaw = [](const wchar_t* name, DWORD type, const void* data, size_t bytes) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsPath.c_str(), name, type, data, static_cast<DWORD>(bytes));
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsPath.c_str());
    storeRaw(L"Files", c.type, c.data.data(), c.data.size() * sizeof(wchar_t));
    storeRaw(L"Minimized", REG_DWORD, "\1\0\0\0", 4);
    app::Form1& f = Open();
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(app::Form1::Value(f.Check8), 0);
    Close();
    DWORD type = 0;
    ::RegGetValueW(HKEY_CURRENT_USER, kSettingsPath.c_str(), L"Files", RRF_RT_ANY, &type, nullptr, nullptr);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(app::DecodeFiles(Stored(L"Files")), c.rows);
  }
}

// A record torn by a crash is cut off at the next start: what later runs journal after it, through
// further crashes, still comes back.
TEST_F(Form1Test, ChangesAfterATornRecordSurviveLaterCrashes) {
  const std::wstring journal = folder_.File(L"history.journal");
  std::string saved;
  // One run: adds a row, then "crashes": the stored list and the journal are put back as a killed
  // run would have left them, with a record torn after the whole ones.
  const auto run = [&](const wchar_t* text, const std::string& tornTail) {
    app::Form1& f = Open();
    f.ListView1.AddItem(text);
    saved = testsupport::ReadBytes(journal) + tornTail;
    Close();
    Store(L"Files", L"kept;");
    ASSERT_TRUE(testsupport::WriteBytes(journal, saved));
  };
  Store(L"Files", L"kept;");
  run(L"one", app::JournalRecord(app::JournalOp::Add, 0, L"torn").substr(0, 13));
  run(L"two", "");
  run(L"three", "");
  Open();
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"kept", L"one", L"two", L"three"}));
}

// Left running, the program stores the list whole once the journal outgrows it, and the journal
// starts afresh: it never grows without bound.
TEST_F(Form1Test, AJournalThatOutgrowsTheListIsFoldedIntoIt) {
  app::Form1& f = Open();
  const std::wstring big(1u << 20, L'x');  // 2 MB a record
  const std::wstring journal = folder_.File(L"history.journal");
  for (wchar_t c : std::wstring(L"abcd")) f.ListView1.AddItem(std::wstring(1, c) + big);
  f.ListView1.AddItem(L"e");
  // Stored whole at the change after the journal passed 8 MB, while the window goes on; then the
  // journal starts afresh.
  ASSERT_TRUE(testsupport::PumpUntil(
      [&] { return testsupport::ReadBytes(journal).size() < 100 && Stored(L"Files").size() > 1000; }, 30000));
  const std::wstring files = Stored(L"Files");
  EXPECT_EQ(files.size(), 4 * (big.size() + 2) + 2);
  EXPECT_EQ(app::ParseJournal(testsupport::ReadBytes(journal)).baseHash, app::HashStoredList(files));
  // A kill now loses nothing: the stored list and the journal's rest make the whole list.
  f.ListView1.AddItem(L"last");
  const std::string killed = testsupport::ReadBytes(journal);
  Close();
  Store(L"Files", files);
  ASSERT_TRUE(testsupport::WriteBytes(journal, killed));
  Open();
  ASSERT_EQ(Rows().size(), 6u);
  EXPECT_EQ(Rows().back(), L"last");
}

// A kill while the list is being stored whole finds, at the next start, the journal that belongs to
// whichever list the store holds.
TEST_F(Form1Test, AKillWhileTheListIsStoredLosesNothing) {
  const std::wstring journal = folder_.File(L"history.journal"), next = journal + L".next";
  Store(L"Files", L"kept;");
  Open().ListView1.AddItem(L"one");
  const std::string old = testsupport::ReadBytes(journal);
  ASSERT_TRUE(form_->SaveEntries());
  form_->ListView1.AddItem(L"two");
  const std::string fresh = testsupport::ReadBytes(journal);
  Close();
  // Killed after the new list was stored, before its journal took the old one's place.
  Store(L"Files", L"kept;one;");
  ASSERT_TRUE(testsupport::WriteBytes(journal, old));
  ASSERT_TRUE(testsupport::WriteBytes(next, fresh));
  Open();
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"kept", L"one", L"two"}));
  EXPECT_EQ(::GetFileAttributesW(next.c_str()), INVALID_FILE_ATTRIBUTES);
  Close();
  Open();
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"kept", L"one", L"two"}));
}

TEST_F(Form1Test, AJournalForAnotherStoredListIsNotReplayed) {
  app::Form1& f = Open();
  f.ListView1.AddItem(L"journaled");
  ::CopyFileW(folder_.File(L"history.journal").c_str(), folder_.File(L"saved.journal").c_str(), FALSE);
  Close();
  // The list was stored whole after the journal was written: the journal is stale.
  ::CopyFileW(folder_.File(L"saved.journal").c_str(), folder_.File(L"history.journal").c_str(), FALSE);
  Open();
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"journaled"}));
}

}  // namespace
