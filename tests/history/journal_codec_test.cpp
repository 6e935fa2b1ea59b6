// The journal's records: whole records count, and a record cut short ends the journal.
#include <gtest/gtest.h>

#include "history/journal_codec.h"

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

}  // namespace
