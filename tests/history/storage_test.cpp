// The history's storage: the stored list (the old plain format still reads as it always did, and
// every list comes back whole), the journal's records, and the row store's duplicate index.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "history/files_codec.h"
#include "history/journal_codec.h"
#include "history/row_store.h"

namespace {

using namespace history;
using Rows = std::vector<std::wstring>;

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
    ASSERT_EQ(DecodeFiles(EncodeFiles({rows.begin(), rows.end()})), rows) << "round " << round;
  }
}

TEST(JournalCodec, RecordsReadBackUntilOneIsCutShort) {
  const std::vector<JournalEntry> entries = {{JournalOp::Add, 1, L"hello"},
                                             {JournalOp::Add, 2, L""},
                                             {JournalOp::Add, 3, L"caf\u00E9;\x1F\r\n"},
                                             {JournalOp::Remove, 2, L""},
                                             {JournalOp::Clear, 0, L""}};
  std::string bytes = JournalHeader(42);
  for (const auto& e : entries) bytes += JournalRecord(e.op, e.position, e.text);
  const ParsedJournal j = ParseJournal(bytes);
  EXPECT_EQ(std::tuple(j.valid, j.baseHash, j.entries), std::tuple(true, 42u, entries));
  const std::string record = JournalRecord(JournalOp::Add, 9, L"torn");
  for (size_t cut = 1; cut < record.size(); ++cut)
    EXPECT_EQ(ParseJournal(bytes + record.substr(0, cut)).entries, entries) << "cut after " << cut;
  EXPECT_FALSE(ParseJournal("not a journal").valid);
}

// Restored lists may hold the same text twice; removing the first copy must not lose the second.
TEST(RowStore, DuplicateRowsStayIndexedUntilTheLastGoes) {
  RowStore s;
  for (const wchar_t* text : {L"same", L"other", L"same"}) s.Add(text);
  s.Remove(0);
  s.Add(L"filler that moves memory around");
  EXPECT_TRUE(s.Contains(L"same"));
  s.Remove(1);  // the second "same"
  EXPECT_FALSE(s.Contains(L"same"));
  EXPECT_TRUE(s.Contains(L"other"));
}

}  // namespace
