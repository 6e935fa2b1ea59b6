// The history's storage: the stored list (the old plain format still reads as it always did, and
// every list comes back whole), the journal's records, and the row store's duplicate index.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <tuple>

#include "history/files_codec.h"
#include "history/journal_codec.h"
#include "history/history_store.h"
#include "history/journal.h"
#include "history/row_store.h"
#include "support/test_support.h"

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
    EXPECT_EQ(ParseJournal(bytes + record.substr(0, cut)).entries, entries) << "cut after " << cut;
  // A power cut can leave a page of a record unwritten, as zeros, or a byte changed.
  for (size_t at = 0; at + 4 <= record.size(); ++at) {
    std::string zeroed = record, flipped = record;
    zeroed.replace(at, 4, 4, '\0');
    flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
    EXPECT_EQ(ParseJournal(bytes + zeroed + record).entries, entries) << "zeros at " << at;
    EXPECT_EQ(ParseJournal(bytes + flipped + record).entries, entries) << "changed at " << at;
  }
  EXPECT_FALSE(ParseJournal("not a journal").valid);
  // A journal of the kind written before records carried a CRC still reads.
  const std::string older("PJ1\0*\0\0\0\0\0\0\0A\0\1\0\0\0\2\0\0\0h\0i\0\xE7\x7C\x37\x9E", 30);
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

// The history's storage driven as the program drives it (start, a journaled change each, the list
// stored whole at close; a kill: none of that), through what a machine does to it: every entry
// comes back once, and what could not be read is kept.
struct StoreTest : testing::Test {
  void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PellucidorTests"); }
  struct Run {
    Run(const Settings& s, const std::wstring& journal) : store(s, journal) { store.Load(rows); }
    void Add(const std::wstring& t) {
      rows.Add(t);
      store.Record(JournalOp::Add, rows.Count(), t);
    }
    Rows Texts() const {
      Rows out;
      for (size_t i = 0; i < rows.Count(); ++i) out.emplace_back(rows.Text(i));
      return out;
    }
    RowStore rows;
    HistoryStore store;
  };
  std::wstring J() const { return folder_.File(L"history.journal"); }
  bool Kept(std::string_view bytes) const {  // a file kept aside holds them
    for (const auto& f : std::filesystem::directory_iterator(std::filesystem::path(folder_.path())))
      if (f.path().wstring().find(L".kept.") != std::wstring::npos &&
          testsupport::ReadBytes(f.path().wstring()).find(bytes) != std::string::npos)
        return true;
    return false;
  }
  void Lost(const std::wstring& files) const { ASSERT_TRUE(settings_.Save(L"Files", files)); }
  testsupport::TempFolder folder_;
  Settings settings_{L"Software\\PellucidorTests\\Store"};
};

TEST_F(StoreTest, EveryEntryComesBackOnceAndWhatCannotBeReadIsKept) {
  const struct {
    const char* what;
    std::function<void(StoreTest&)> then;  // after "a" stored and "b" journaled by a killed run
    Rows rows;
    std::string kept;
  } cases[] = {
      {"a run that could not read the journal, the store that added its own lost",
       [](StoreTest& t) {
         {
           const win::UniqueFile held(
               ::CreateFileW(t.J().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
           Run(t.settings_, t.J()).Add(L"c");  // into a journal of its own
         }
         (void)Run(t.settings_, t.J());  // added and stored, where the store never reached the disk
         t.Lost(L"a;");
       },
       {L"a", L"b", L"c"},
       ""},
      {"a journal for no stored list: a start killed before it stored the list with its texts, then "
       "the store of the next one lost",
       [](StoreTest& t) {
         t.Lost(L"a;x;");
         {
           RowStore rows;
           Journal j(t.J());
           ASSERT_EQ(j.Resume(rows, HashStoredList(L"a;x;")), Journal::Resumed::kNone);
           ASSERT_TRUE(j.SetAside());
           (void)j.Restart(HashStoredList(L"a;x;"));  // as a start does next; killed here
         }
         (void)Run(t.settings_, t.J());
         t.Lost(L"a;x;");
       },
       {L"a", L"x", L"b"},
       ""},
      {"a record damaged inside the journal",
       [](StoreTest& t) {
         Run(t.settings_, t.J()).Add(L"c");
         Run(t.settings_, t.J()).Add(L"d");
         std::string bytes = testsupport::ReadBytes(t.J());
         bytes[bytes.size() - 32 + 8] ^= 0x10;  // the length of the record of "c"
         ASSERT_TRUE(testsupport::WriteBytes(t.J(), bytes));
       },
       {L"a", L"b"},
       testsupport::Bytes(L"d")},
      {"a journal of a kind this program cannot read",
       [](StoreTest& t) { ASSERT_TRUE(testsupport::WriteBytes(t.J(), "PJ9 from later")); },
       {L"a"},
       "PJ9 from later"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PellucidorTests");
    for (const auto& f : std::filesystem::directory_iterator(std::filesystem::path(folder_.path())))
      std::filesystem::remove(f.path());
    Lost(L"a;");
    Run(settings_, J()).Add(L"b");
    c.then(*this);
    EXPECT_EQ(Run(settings_, J()).Texts(), c.rows);
    EXPECT_TRUE(c.kept.empty() || Kept(c.kept));
  }
}

}  // namespace
