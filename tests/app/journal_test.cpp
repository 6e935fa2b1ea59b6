// The journal of list changes: a window that never got to close comes back with every change it made.
#include <gtest/gtest.h>

#include "app/journal.h"
#include "app/journal_codec.h"
#include "form1_fixture.h"

namespace {

using testsupport::Form1Test;

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
