// The history's storage: the stored list's format (the old plain format still reads as it always
// did), the journal's records, the row store, and the storage run as the program runs it through
// whatever a machine does to it: killed at every step, the power cut, the disk full, files held by
// other programs, the stored list lost.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <tuple>

#include "history/files_codec.h"
#include "history/history.h"
#include "history/journal_codec.h"
#include "history/legacy.h"
#include "history/recovery.h"
#include "history/row_store.h"
#include "history/sim_machine.h"

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

TEST(FilesCodec, RandomListsComeBackIdenticalWithTheirIdentity) {
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
    std::wstring stored = EncodeFiles({rows.begin(), rows.end()});
    ASSERT_EQ(TrailingIdentity(stored), std::nullopt);
    const ListIdentity id = AppendIdentity(stored, gen(), gen());
    ASSERT_EQ(DecodeFiles(stored), rows) << "round " << round;
    const std::optional<ListIdentity> back = TrailingIdentity(stored);
    ASSERT_TRUE(back && std::tie(back->generation, back->records) == std::tie(id.generation, id.records));
    if (!rows.empty()) {
      ASSERT_EQ(TrailingIdentity(stored.substr(1)), std::nullopt) << "changed: not ours";
    }
  }
}

class Bytes : public InFile {
 public:
  explicit Bytes(std::string b) : b_(std::move(b)) {}
  uint64_t Size() const override { return b_.size(); }
  bool ReadAt(uint64_t at, void* into, size_t n, size_t& got) override {
    got = at < b_.size() ? std::min<size_t>(n, b_.size() - at) : 0;
    std::memcpy(into, b_.data() + at, got);
    return true;
  }

 private:
  std::string b_;
};

std::vector<std::tuple<JournalOp, uint32_t, std::wstring>> Records(const std::string& bytes) {
  Bytes in(bytes);
  JournalReader r(in);
  std::vector<std::tuple<JournalOp, uint32_t, std::wstring>> out;
  JournalRecord record;
  if (r.Header())
    while (r.Next(record, true)) out.emplace_back(record.op, record.position, std::wstring(record.text.view()));
  return out;
}

TEST(JournalCodec, RecordsReadBackUntilOneIsCutShortDamagedOrFromAnotherJournal) {
  JournalHeader h;
  h.generation = 7;
  h.seed = 1234;
  const std::vector<std::tuple<JournalOp, uint32_t, std::wstring>> records = {
      {JournalOp::Add, 1, L"hello"}, {JournalOp::Add, 2, L""}, {JournalOp::Add, 3, L"caf\u00E9;\x1F\r\n"},
      {JournalOp::Remove, 2, L""},   {JournalOp::Clear, 0, L""}};
  std::string bytes = EncodeJournalHeader(h);
  for (const auto& [op, position, text] : records) bytes += JournalRecordBytes(h.seed, op, position, text);
  EXPECT_EQ(Records(bytes), records);
  const std::string record = JournalRecordBytes(h.seed, JournalOp::Add, 9, L"a text longer than a few bytes");
  for (size_t cut = 1; cut < record.size(); ++cut)
    EXPECT_EQ(Records(bytes + record.substr(0, cut)), records) << "cut after " << cut;
  // A power cut can leave a page of a record unwritten, as zeros, or a byte changed.
  for (size_t at = 0; at + 4 <= record.size(); ++at) {
    std::string zeroed = record, flipped = record;
    zeroed.replace(at, 4, 4, '\0');
    flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
    EXPECT_EQ(Records(bytes + zeroed + record), records) << "zeros at " << at;
    EXPECT_EQ(Records(bytes + flipped + record), records) << "changed at " << at;
  }
  EXPECT_EQ(Records(bytes + JournalRecordBytes(h.seed + 1, JournalOp::Add, 6, L"stale")), records);
  // The older version's journal, whose records were checked by their head alone, still reads.
  const std::string older("PJ1\0*\0\0\0\0\0\0\0A\0\1\0\0\0\2\0\0\0h\0i\0\xE7\x7C\x37\x9E", 30);
  EXPECT_EQ(ParseLegacyJournal(older).entries, (std::vector<LegacyEntry>{{'A', 1, L"hi"}}));
}

// Restored lists may hold the same text twice; removing the first copy must not lose the second.
// The texts handed out for reading elsewhere stay whole until given back, whatever is removed.
TEST(RowStore, PinnedTextsOutliveTheirRowsAndDuplicatesStayIndexed) {
  RowStore s;
  for (const wchar_t* text : {L"same", L"other", L"same"}) s.Add(text);
  const std::vector<std::wstring_view> pinned = s.Pin();
  s.Remove(0);
  EXPECT_TRUE(s.Contains(L"same"));
  s.Remove(1);  // the second "same"
  EXPECT_FALSE(s.Contains(L"same"));
  s.Clear();
  for (int i = 0; i < 100; ++i) s.Add(L"filler that may take the freed memory " + std::to_wstring(i));
  EXPECT_EQ(pinned, (std::vector<std::wstring_view>{L"same", L"other", L"same"}));
  s.Unpin();
  EXPECT_EQ(s.Count(), 100u);
}

// One run of the program on a machine: started, changes, folds done as the window does them.
struct Run {
  Run(sim::Machine& m, uint64_t foldAfter)
      : history(m.NewFolder(), m.NewList(), {foldAfter, false, [this] { asked = true; }}) {
    history.Load();
    Pump();
  }
  void Pump() {
    while (asked) {
      asked = false;
      history.Work();
    }
  }
  Rows Texts() const {
    Rows out;
    for (size_t i = 1; i <= history.Count(); ++i) out.emplace_back(history.Text(i));
    return out;
  }
  bool asked = false;
  History history;
};

enum class Op { kAdd, kRemove, kClear, kPump, kClose, kRestart, kKill, kWriteOut, kLoseSession, kFull, kRoom, kHold, kRelease };

struct Step {
  Op op;
  uint32_t n;  // which text, which row, how much room
};

std::wstring TextFor(uint32_t n) {
  static const std::wstring texts[] = {L"a", L"b", L"a;b", L"", L" ", L"x y\r\n", std::wstring(700, L'l'), L"\x1F.",
                                       L"c", L"d", std::wstring(L"n\0ul", 4), L"\U00010400"};
  return texts[n % std::size(texts)] + (n % 3 ? std::to_wstring(n % 7) : L"");
}

std::vector<Step> Sequence(uint32_t seed) {
  std::mt19937 gen(seed);
  const std::pair<Op, int> weights[] = {{Op::kAdd, 40}, {Op::kRemove, 12}, {Op::kClear, 2},    {Op::kPump, 12},
                                        {Op::kClose, 4}, {Op::kRestart, 6}, {Op::kKill, 5},   {Op::kWriteOut, 5},
                                        {Op::kLoseSession, 3}, {Op::kFull, 4}, {Op::kRoom, 4}, {Op::kHold, 3},
                                        {Op::kRelease, 3}};
  std::vector<int> w;
  for (const auto& [op, weight] : weights) w.push_back(weight);
  std::discrete_distribution<int> pick(w.begin(), w.end());
  std::vector<Step> steps(std::uniform_int_distribution<size_t>(8, 24)(gen));
  for (Step& s : steps) s = {weights[pick(gen)].first, static_cast<uint32_t>(gen())};
  return steps;
}

// The rows every change left, and how far back a kill or a power cut may take them: to the last
// change that was in the journal's file, or, for a power cut, on the disk itself.
struct Model {
  std::vector<Rows> states{{}};
  size_t now = 0, afterKill = 0, afterPowerCut = 0, afterSessionLost = 0;
  void Change(const Rows& rows) {
    states.push_back(rows);
    now = states.size() - 1;
  }
  void Settled(const Run& run, const sim::Machine& m, bool stored) {
    const bool journaled = run.history.Journaled(), own = run.history.OnOwnFiles();
    if (journaled || stored) afterKill = now;
    if (journaled && own) afterSessionLost = now;
    if (journaled && own && m.AllFlushed()) afterPowerCut = now;
  }
  static std::string Show(const Rows& rows) {
    std::string out = "{";
    for (const auto& r : rows) {
      out.append(" ").append(std::to_string(r.size())).append(":");
      for (size_t i = 0; i < r.size() && i < 6; ++i) out += static_cast<char>(r[i] < 128 && r[i] >= 32 ? r[i] : '?');
    }
    return out + " }";
  }
  // The rows a start shows must be those of a state at or after the floor; where a journal lost
  // what it followed (the list it started from was stored only in the settings store, which lost
  // it), its entries may follow, each once, not listed before.
  std::string Check(const Rows& rows, size_t floor) {
    for (size_t k = floor; k < states.size(); ++k) {
      const Rows& s = states[k];
      if (rows.size() < s.size() || !std::equal(s.begin(), s.end(), rows.begin())) continue;
      std::set<std::wstring> extra;
      bool added = true;
      for (size_t i = s.size(); i < rows.size() && added; ++i) {
        const auto later = [&](const Rows& r) { return std::find(r.begin(), r.end(), rows[i]) != r.end(); };
        added = std::find(s.begin(), s.end(), rows[i]) == s.end() && extra.insert(rows[i]).second &&
                std::any_of(states.begin() + static_cast<std::ptrdiff_t>(k), states.end(), later);
      }
      if (!added) continue;
      now = rows.size() == s.size() ? k : (states.push_back(rows), states.size() - 1);
      return {};
    }
    return "rows " + Show(rows) + " not a state from " + std::to_string(floor) + " of " +
           std::to_string(states.size()) + "; now " + Show(states[now]);
  }
};

struct Outcome {
  bool killed = false;
  std::string fault;
};

Outcome Play(const std::vector<Step>& steps, uint32_t seed, uint64_t killAt, bool power) {
  constexpr uint64_t kFoldAfter = 96;
  sim::Machine m(seed);
  m.KillAfter(killAt, power);
  Model model;
  auto run = std::make_unique<Run>(m, kFoldAfter);
  Outcome out;
  bool killed = false;
  // A start after the kill, whenever it came, goes back no further than the kill's floor.
  const auto restart = [&](size_t floor) {
    run.reset();
    if (m.Dead()) {
      killed = true;
      floor = power ? model.afterPowerCut : model.afterKill;
    }
    m.Restart();
    run = std::make_unique<Run>(m, kFoldAfter);
    out.fault = model.Check(run->Texts(), floor);
    if (out.fault.empty() && !m.Dead()) model.Settled(*run, m, false);
  };
  for (const Step& s : steps) {
    Rows rows = model.states[model.now];
    bool stored = false;
    switch (s.op) {
      case Op::kAdd:
        rows.push_back(TextFor(s.n));
        run->history.Add(rows.back());
        break;
      case Op::kRemove:
        if (rows.empty()) break;
        rows.erase(rows.begin() + s.n % rows.size());
        run->history.Remove(s.n % run->history.Count() + 1);
        break;
      case Op::kClear:
        rows.clear();
        run->history.Clear();
        break;
      case Op::kPump:
        run->Pump();
        break;
      case Op::kClose:
        stored = run->history.Store();
        break;
      case Op::kRestart:
        stored = run->history.Store();
        if (!m.Dead()) model.Settled(*run, m, stored);
        restart(model.afterKill);
        break;
      case Op::kKill:
        restart(model.afterKill);
        break;
      case Op::kWriteOut:
        m.WriteOut();
        break;
      case Op::kLoseSession:
        m.LoseSession();
        model.afterKill = std::min(model.afterKill, model.afterSessionLost);  // the list stored is gone
        restart(model.afterSessionLost);
        break;
      case Op::kFull:
        m.capacity = m.Used() + s.n % 200;
        break;
      case Op::kRoom:
        m.capacity = UINT64_MAX;
        break;
      case Op::kHold:
        if (!m.names.empty()) m.noDelete.insert(std::next(m.names.begin(), s.n % m.names.size())->first);
        break;
      case Op::kRelease:
        m.noDelete.clear();
        break;
    }
    if (!out.fault.empty()) return out;
    if (s.op == Op::kAdd || s.op == Op::kRemove || s.op == Op::kClear) model.Change(rows);
    if (!m.Dead()) model.Settled(*run, m, stored);
    if (m.Dead()) restart(0);
    if (killed) {
      out.killed = true;
      if (!out.fault.empty()) return out;
      // Started again without a change: the same rows (a start changes nothing they depend on).
      const Rows first = run->Texts();
      restart(model.now);
      if (out.fault.empty() && run->Texts() != first) out.fault = "a second start shows other rows";
      return out;
    }
  }
  // Run out without a kill: closed with room and nothing held, three starts bring back the rows,
  // and leave few files behind.
  m.capacity = UINT64_MAX;
  m.noDelete.clear();
  for (int i = 0; i < 3 && out.fault.empty() && !killed; ++i) {
    const bool stored = run->history.Store();
    if (!m.Dead()) model.Settled(*run, m, stored);
    restart(model.now);
  }
  out.killed = killed;
  if (out.fault.empty() && !killed && m.names.size() > 9) out.fault = std::to_string(m.names.size()) + " files left";
  return out;
}

TEST(StorageModel, EveryKillPointLeavesTheRowsOfAJournaledState) {
  const char* more = std::getenv("PELLUCIDOR_MODEL_SEQUENCES");
  const uint32_t sequences = more ? static_cast<uint32_t>(std::atoi(more)) : 400;
  uint64_t points = 0;
  for (uint32_t seed = 1; seed <= sequences; ++seed) {
    const std::vector<Step> steps = Sequence(seed);
    for (uint64_t at = 1;; ++at, ++points) {
      const Outcome o = Play(steps, seed, at, (seed + at) % 2 == 0);
      ASSERT_EQ(o.fault, "") << "sequence " << seed << ", killed at step " << at << ((seed + at) % 2 ? "" : " by a power cut");
      if (!o.killed) break;
    }
  }
  std::printf("%u sequences, %llu kill points\n", sequences, static_cast<unsigned long long>(points));
}

}  // namespace
