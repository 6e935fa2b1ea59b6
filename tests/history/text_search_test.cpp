// Finding a text among the rows: at every place a text can hold it, with case ignored as Unicode folds
// it; the rows in order round past the end, long rows read in parts, rows added meanwhile, and a
// search that a row removed cancels.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "history/case_fold.h"
#include "history/text_search.h"

namespace {

using namespace history;

// What a plain search finds with case ignored: a run of whole code points of text, from any unit,
// whose folds make the needle's.
std::u32string FoldedFrom(std::wstring_view text, size_t& i, size_t length) {
  std::u32string folded;
  while (i < text.size() && folded.size() < length) {
    char32_t c = static_cast<uint16_t>(text[i++]), fold[3];
    if (c >= 0xD800 && c < 0xDC00 && i < text.size() && text[i] >= 0xDC00 && text[i] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    folded.append(fold, FoldCase(c, fold));
  }
  return folded;
}
bool PlainFoldedFind(std::wstring_view text, std::wstring_view needle) {
  size_t at = 0;
  const std::u32string want = FoldedFrom(needle, at, SIZE_MAX);
  for (size_t i = 0; i < text.size(); ++i) {
    size_t from = i;
    if (FoldedFrom(text, from, want.size()) == want) return true;
  }
  return false;
}

TEST(TextFinder, FindsWhatASimpleSearchFindsAnywhereInATextWithCaseOrWithout) {
  // Each beside its other case: some of another length or in another plane, and alike units.
  const wchar_t* const alphabet[] = {
      L"a",  L"A", L"b", L"b", L"\u00E9", L"\u00C9", L"k",  L"\u212A",     L"s",          L"S", L"\u00DF",
      L"SS", L"f", L"F", L"i", L"I",      L"\uFB01", L"FI", L"\U00010428", L"\U00010400", L" ", L" "};
  std::mt19937 gen(20261210);
  std::uniform_int_distribution<size_t> pick(0, std::size(alphabet) / 2 - 1), length(0, 40),
      needleLength(1, 12);
  for (int round = 0; round < 40000; ++round) {
    std::wstring text, needle;
    for (size_t i = length(gen); i > 0; --i) text += alphabet[pick(gen) * 2 + gen() % 2];
    const size_t m = needleLength(gen);
    if (round % 2 && text.size() >= m) {
      needle = text.substr(std::uniform_int_distribution<size_t>(0, text.size() - m)(gen), m);
      for (size_t k = 0; k < std::size(alphabet); k += 2) {  // some letters in their other case
        const std::wstring_view lower = alphabet[k], upper = alphabet[k + 1];
        for (size_t at = 0; gen() % 2 && (at = needle.find(lower, at)) != std::wstring::npos;
             at += upper.size())
          needle.replace(at, lower.size(), upper);
      }
    } else {
      for (size_t i = 0; i < m; ++i) needle += alphabet[pick(gen) * 2 + gen() % 2];
    }
    ASSERT_EQ(std::tuple(TextFinder(needle, false).In(text), TextFinder(needle, true).In(text)),
              std::tuple(text.find(needle) != std::wstring::npos, PlainFoldedFind(text, needle)))
        << testing::PrintToString(text) << " / " << testing::PrintToString(needle);
  }
  EXPECT_FALSE(TextFinder(L"", true).In(L"any"));
}

// Steps until the search ends.
std::tuple<RowSearch::State, size_t> RunToEnd(RowSearch& search, size_t budget) {
  RowSearch::State state;
  while ((state = search.Step(budget)) == RowSearch::State::Running) {
  }
  return {state, state == RowSearch::State::Found ? search.Found() : SIZE_MAX};
}

TEST(RowSearch, LooksAtEachRowOnceInOrderReadsLongRowsInPartsAndStopsWhenTheRowsChange) {
  RowStore rows;
  const std::wstring longRow =
      std::wstring(5000, L'x') + L"Needle" + std::wstring(3000, L'y') + L" stra\u00DFe \U00010428 \uFB01";
  for (const std::wstring& t : {std::wstring(L"alpha"), std::wstring(L"beta"), longRow,
                                std::wstring(L"alphabet"), std::wstring(L"delta \U00010400")})
    rows.Add(t);
  const RowSearch::State found = RowSearch::State::Found, none = RowSearch::State::NotFound;
  const struct {
    const wchar_t* needle;
    bool ignoreCase;
    size_t first;
    bool down;
    RowSearch::State state;
    size_t row;
  } cases[] = {
      {L"alpha", false, 4, true, found, 0},   // round past the end
      {L"alpha", false, 0, false, found, 0},  // upward, itself last
      {L"ALPHA", true, 4, false, found, 3},
      {L"xNeedley", false, 3, true, found, 2},  // across the parts
      {L"zeta", true, 0, true, none, 0},
      {L"", false, 0, true, none, 0},
      {L"STRASSE", true, 0, true, found, 2},        // a fold of another length
      {L"\U00010400 FI", true, 0, true, found, 2},  // another plane; a ligature
      {L"\U00010428", true, 3, true, found, 4},     // and the other way
      {L"\U00010400", false, 0, true, found, 4},    // case matched
  };
  for (const auto& c : cases) {
    for (const size_t budget : {size_t{1}, size_t{7}, size_t{4096}, SIZE_MAX}) {
      RowSearch search(rows, TextFinder(c.needle, c.ignoreCase), c.first, c.down);
      EXPECT_EQ(RunToEnd(search, budget), std::tuple(c.state, c.state == found ? c.row : SIZE_MAX))
          << testing::PrintToString(c.needle) << " from " << c.first << ", budget " << budget;
    }
  }
  // Rows added while a search is under way come after those it looks at; a row removed, or all
  // cleared, cancels it: its positions no longer hold.
  for (int change = 0; change < 3; ++change) {
    RowSearch search(rows, TextFinder(L"absent", false), 0, true);
    ASSERT_EQ(search.Step(1), RowSearch::State::Running);
    change == 0 ? (void)rows.Add(L"absent") : change == 1 ? rows.Remove(0) : rows.Clear();
    EXPECT_EQ(RunToEnd(search, SIZE_MAX), std::tuple(change ? RowSearch::State::Cancelled : none, SIZE_MAX))
        << change;
  }
  RowSearch nothing(rows, TextFinder(L"a", false), 0, true);
  EXPECT_EQ(RunToEnd(nothing, 1), std::tuple(none, SIZE_MAX)) << "no rows";
}

}  // namespace
