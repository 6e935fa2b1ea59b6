// The journal of list changes: whole records count, a record cut short ends it, and a window
// that never got to close comes back with every change it made.
#include <gtest/gtest.h>

#include <random>

#include "app/journal.h"
#include "app/journal_codec.h"
#include "form1_fixture.h"

namespace {

using app::JournalEntry;
using app::JournalOp;

TEST(JournalCodec, RecordsReadBackUntilOneIsCutShort) {
  const std::vector<JournalEntry> entries = {{JournalOp::Add, 1, L"hello"},
                                             {JournalOp::Add, 2, L""},
                                             {JournalOp::Add, 3, L"caf\u00E9;\x1F\r\n"},
                                             {JournalOp::Remove, 2, L""},
                                             {JournalOp::Clear, 0, L""}};
  std::string bytes = app::JournalHeader(42);
  for (const auto& e : entries) bytes += app::JournalRecord(e.op, e.position, e.text);
  app::ParsedJournal j = app::ParseJournal(bytes);
  ASSERT_TRUE(j.valid);
  EXPECT_EQ(j.baseHash, 42u);
  EXPECT_EQ(j.entries, entries);

  for (size_t cut = 1; cut < app::JournalRecord(JournalOp::Add, 9, L"torn").size(); ++cut) {
    const std::string torn = bytes + app::JournalRecord(JournalOp::Add, 9, L"torn").substr(0, cut);
    EXPECT_EQ(app::ParseJournal(torn).entries, entries) << "cut after " << cut << " bytes";
  }
  EXPECT_FALSE(app::ParseJournal("not a journal").valid);
  EXPECT_FALSE(app::ParseJournal("").valid);
  EXPECT_NE(app::HashStoredList(L"a;"), app::HashStoredList(L"b;"));
}

using testsupport::Form1Test;

TEST_F(Form1Test, ChangesOfARunThatNeverClosedComeBack) {
  Store(L"Files", L"kept;");
  {
    app::Form1& f = Open();
    f.ListView1.AddItem(L"one");
    f.ListView1.AddItem(L"two");
    f.ListView1.AddItem(L"three");
    f.ListView1.Remove(3);  // "two"
    // The process dies here: nothing stores the list, nothing closes the journal.
    const std::string journal = testsupport::ReadBytes(folder_.File(L"history.journal"));
    ::CopyFileW(folder_.File(L"history.journal").c_str(), folder_.File(L"saved.journal").c_str(), FALSE);
    EXPECT_GT(journal.size(), 12u);
  }
  form_.reset();  // closes normally and stores the list
  EXPECT_EQ(Stored(L"Files"), L"kept;one;three;");
  // Put back what a killed run would have left: the old stored list and its journal.
  Store(L"Files", L"kept;");
  ::CopyFileW(folder_.File(L"saved.journal").c_str(), folder_.File(L"history.journal").c_str(), FALSE);
  Open();
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"kept", L"one", L"three"}));
  Close();
  Open();
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"kept", L"one", L"three"})) << "replayed once only";
}

TEST(Journal, ChangesAFullDiskRefusesWaitAndGoOutInOrder) {
  const auto disk = testsupport::SmallDisk();
  if (!disk) GTEST_SKIP() << "no size-limited folder: mounting one needs root";
  testsupport::TempFolder folder(*disk);
  app::Journal journal(folder.File(L"history.journal"));
  ASSERT_TRUE(journal.Restart(7));
  journal.Append(JournalOp::Add, 1, L"before");
  const std::wstring big(20000, L'b');  // more than the slack of the file's last block
  {
    testsupport::DiskFiller full(folder.path());
    const size_t whole = testsupport::ReadBytes(journal.path()).size();
    journal.Append(JournalOp::Add, 2, big);
    journal.Append(JournalOp::Remove, 1, L"");
    EXPECT_EQ(testsupport::ReadBytes(journal.path()).size(), whole) << "nothing half written";
  }
  journal.Append(JournalOp::Add, 2, L"after");
  const app::ParsedJournal j = app::ParseJournal(testsupport::ReadBytes(journal.path()));
  EXPECT_EQ(j.entries, (std::vector<JournalEntry>{{JournalOp::Add, 1, L"before"},
                                                  {JournalOp::Add, 2, big},
                                                  {JournalOp::Remove, 1, L""},
                                                  {JournalOp::Add, 2, L"after"}}));
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

namespace {

TEST(JournalCodec, RandomBytesNeverBreakTheReader) {
  std::mt19937 gen(11);
  std::uniform_int_distribution<int> byte(0, 255), size(0, 200);
  const std::string valid = app::JournalHeader(1) + app::JournalRecord(JournalOp::Add, 1, L"x");
  for (int round = 0; round < 20000; ++round) {
    std::string bytes = valid;
    const int changes = 1 + round % 4;
    for (int i = 0; i < changes; ++i)
      bytes[static_cast<size_t>(byte(gen)) % bytes.size()] = static_cast<char>(byte(gen));
    bytes.resize(bytes.size() + static_cast<size_t>(size(gen) % 16), '\x41');
    const app::ParsedJournal j = app::ParseJournal(bytes);
    for (const auto& e : j.entries) ASSERT_LE(e.text.size() * 2, bytes.size());
  }
}

}  // namespace
