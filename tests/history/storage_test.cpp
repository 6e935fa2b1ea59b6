// The history's storage: the stored list (the old plain format still reads as it always did, and
// every list comes back whole), the journal's records, and the row store's duplicate index.
#include <gtest/gtest.h>

#include <random>

#include "history/files_codec.h"
#include "history/journal_codec.h"
#include "history/row_store.h"

namespace {

using app::DecodeFiles;
using app::EncodeFiles;
using app::JournalEntry;
using app::JournalOp;
using Rows = std::vector<std::wstring>;

std::wstring Encode(const Rows& rows) {
  std::vector<std::wstring_view> views(rows.begin(), rows.end());
  return EncodeFiles(views);
}

TEST(FilesCodec, PlainValuesReadAsBefore) {
  const struct {
    std::wstring stored;
    Rows rows;
  } cases[] = {
      {L"", {}},
      {L"abc;d e;", {L"abc", L"d e"}},
      {L"abc;;  ;d;e;", {L"abc", L"d", L"e"}},  // empty and all-space pieces are skipped
      {L" x ;", {L" x "}},                      // spaces around text are kept
      {L"\r\n;\t;", {L"\r\n", L"\t"}},          // line breaks and tabs are not blank
      {L"a;b", {L"a", L"b"}},                   // a last piece without its ";"
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeFiles(c.stored), c.rows) << "stored: " << testing::PrintToString(c.stored);
}

TEST(FilesCodec, RandomListsComeBackIdentical) {
  // Characters chosen to hit every escape and every blank rule.
  const wchar_t alphabet[] = {L'a',  L' ',  L';',      L'\x1F',   L'.', L'\r',
                              L'\n', L'\t', L'\u00E9', L'\u65E5', L'\0'};
  std::mt19937 gen(20261206);
  std::uniform_int_distribution<int> rowCount(0, 12), length(0, 8), pick(0, std::size(alphabet) - 1);
  for (int round = 0; round < 20000; ++round) {
    Rows rows(static_cast<size_t>(rowCount(gen)));
    for (auto& r : rows) {
      const int n = length(gen);
      for (int i = 0; i < n; ++i) r += alphabet[pick(gen)];
    }
    ASSERT_EQ(DecodeFiles(Encode(rows)), rows) << "round " << round;
  }
}

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

// Restored lists may hold the same text twice; removing the first copy must not lose the second.
TEST(RowStore, DuplicateRowsStayIndexedUntilTheLastGoes) {
  app::RowStore s;
  for (const wchar_t* text : {L"same", L"other", L"same"}) s.Add(text);
  s.Remove(0);
  s.Add(L"filler that moves memory around");
  EXPECT_TRUE(s.Contains(L"same"));
  s.Remove(1);  // the second "same"
  EXPECT_FALSE(s.Contains(L"same"));
  EXPECT_TRUE(s.Contains(L"other"));
}

}  // namespace
