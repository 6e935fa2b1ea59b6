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
    const uint64_t id = (static_cast<uint64_t>(gen()) << 32) ^ gen();
    const std::wstring stored = EncodeFiles({rows.begin(), rows.end()}, id);
    ASSERT_EQ(DecodeFiles(stored), rows) << "round " << round;
    ASSERT_EQ(StoredListId(stored), id) << "round " << round;
    ASSERT_EQ(StoredListId(EncodeFiles({rows.begin(), rows.end()})), std::nullopt);
  }
}

TEST(JournalCodec, RecordsReadBackUntilOneIsCutShortOrDamaged) {
  const std::vector<JournalEntry> entries = {{JournalOp::Add, 1, L"hello"},
                                             {JournalOp::Add, 2, L""},
                                             {JournalOp::Add, 3, L"caf\u00E9;\x1F\r\n"},
                                             {JournalOp::Stored, 0, StoredMarkText(7)},
                                             {JournalOp::Remove, 2, L""},
                                             {JournalOp::Clear, 0, L""}};
  std::string bytes = JournalHeader(42);
  for (const auto& e : entries) bytes += JournalRecord(e.op, e.position, e.text);
  const ParsedJournal j = ParseJournal(bytes);
  EXPECT_EQ(std::tuple(j.valid, j.base, j.entries), std::tuple(true, 42u, entries));
  const std::string record = JournalRecord(JournalOp::Add, 9, L"a text longer than a few bytes");
  for (size_t cut = 1; cut < record.size(); ++cut)
    EXPECT_EQ(std::tuple(ParseJournal(bytes + record.substr(0, cut)).entries,
                         ParseJournal(bytes + record.substr(0, cut)).tornTail),
              std::tuple(entries, true))
        << "cut after " << cut;
  // A power cut can leave a page of a record unwritten, as zeros, or a byte changed.
  for (size_t at = 0; at + 4 <= record.size(); ++at) {
    std::string zeroed = record, flipped = record;
    zeroed.replace(at, 4, 4, '\0');
    flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
    const ParsedJournal damaged = ParseJournal(bytes + zeroed + record);
    EXPECT_EQ(std::tuple(damaged.entries, damaged.tornTail), std::tuple(entries, false)) << "zeros at " << at;
    EXPECT_EQ(ParseJournal(bytes + flipped + record).entries, entries) << "changed at " << at;
  }
  EXPECT_FALSE(ParseJournal("not a journal").valid);
  // A journal of the kind written before records carried a CRC still reads.
  const std::string older("PJ1\0*\0\0\0\0\0\0\0A\0\1\0\0\0\2\0\0\0h\0i\0\xE7\x7C\x37\x9E", 34);
  EXPECT_EQ(ParseJournal(older).entries, (std::vector<JournalEntry>{{JournalOp::Add, 1, L"hi"}}));
}

// Restored lists may hold the same text twice; removing the first copy must not lose the second.
// The texts handed out for reading elsewhere stay whole until given back, whatever is removed.
TEST(RowStore, PinnedTextsOutliveTheirRows) {
  RowStore s;
  for (const wchar_t* text : {L"first row", L"second row", L"third row"}) s.Add(text);
  const std::vector<std::wstring_view> pinned = s.Pin();
  s.Remove(1);
  s.Clear();
  for (int i = 0; i < 100; ++i) s.Add(L"filler that may take the freed memory " + std::to_wstring(i));
  EXPECT_EQ(pinned, (std::vector<std::wstring_view>{L"first row", L"second row", L"third row"}));
  s.Unpin();
  EXPECT_EQ(s.Count(), 100u);
}

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
