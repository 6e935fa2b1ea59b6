// The journal's records: whole records count, a record cut short ends it, and a full disk loses none.
#include <gtest/gtest.h>

#include "history/journal.h"
#include "history/journal_codec.h"
#include "support/test_support.h"

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
  const std::string record = app::JournalRecord(JournalOp::Add, 9, L"torn");
  for (size_t cut = 1; cut < record.size(); ++cut)
    EXPECT_EQ(app::ParseJournal(bytes + record.substr(0, cut)).entries, entries) << "cut after " << cut;
  EXPECT_FALSE(app::ParseJournal("not a journal").valid);
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
  EXPECT_EQ(app::ParseJournal(testsupport::ReadBytes(journal.path())).entries,
            (std::vector<JournalEntry>{{JournalOp::Add, 1, L"before"},
                                       {JournalOp::Add, 2, big},
                                       {JournalOp::Remove, 1, L""},
                                       {JournalOp::Add, 2, L"after"}}));
}

}  // namespace
