// Finding a text among the rows: at every place a text can hold it, with case ignored through a
// table; the rows in order round past the end, long rows read in parts, and a search that a change
// of the rows cancels.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "history/text_search.h"

namespace {

using namespace history;

// Letters as their lower case, and six units taken for 'k': more alike units than the wide scan
// compares at once.
CaseFold TestFold() {
  std::vector<wchar_t> table(CaseFold::kUnits);
  for (size_t u = 0; u < table.size(); ++u) table[u] = static_cast<wchar_t>(u);
  for (wchar_t c = L'A'; c <= L'Z'; ++c) table[c] = static_cast<wchar_t>(c + 32);
  table[L'\u00C9'] = L'\u00E9';
  for (const wchar_t c : {L'\u212A', L'\u1E32', L'\u1E33', L'\u0136', L'\u0137'}) table[c] = L'k';
  return CaseFold(std::move(table));
}

TEST(TextFinder, FindsWhatASimpleSearchFindsAnywhereInATextWithCaseOrWithout) {
  const CaseFold fold = TestFold();
  const auto folded = [&](std::wstring s) {
    for (wchar_t& c : s) c = fold(c);
    return s;
  };
  const wchar_t alphabet[] = {L'a', L'A', L'b', L'\u00E9', L'\u00C9', L'k', L'K', L'\u212A', L' ', L'x'};
  std::mt19937 gen(20261210);
  std::uniform_int_distribution<size_t> pick(0, std::size(alphabet) - 1), length(0, 40), needleLength(1, 12);
  for (int round = 0; round < 40000; ++round) {
    std::wstring text, needle;
    for (size_t i = length(gen); i > 0; --i) text += alphabet[pick(gen)];
    const size_t m = needleLength(gen);
    if (round % 2 && text.size() >= m) {
      // Taken from the text, some units in another case.
      needle = text.substr(std::uniform_int_distribution<size_t>(0, text.size() - m)(gen), m);
      for (wchar_t& c : needle) {
        if (gen() % 3 == 0) c = c == L'a' ? L'A' : c == L'\u00E9' ? L'\u00C9' : c == L'k' ? L'\u212A' : c;
      }
    } else {
      for (size_t i = 0; i < m; ++i) needle += alphabet[pick(gen)];
    }
    const bool exact = text.find(needle) != std::wstring::npos;
    const bool ignoringCase = folded(text).find(folded(needle)) != std::wstring::npos;
    ASSERT_EQ(std::tuple(TextFinder(needle, nullptr).In(text), TextFinder(needle, &fold).In(text)),
              std::tuple(exact, ignoringCase))
        << testing::PrintToString(text) << " / " << testing::PrintToString(needle);
  }
  EXPECT_FALSE(TextFinder(L"", nullptr).In(L"any"));
}

// Steps until the search ends.
std::tuple<RowSearch::State, size_t> RunToEnd(RowSearch& search, size_t budget) {
  RowSearch::State state;
  while ((state = search.Step(budget)) == RowSearch::State::Running) {
  }
  return {state, state == RowSearch::State::Found ? search.Found() : SIZE_MAX};
}

TEST(RowSearch, LooksAtEachRowOnceInOrderReadsLongRowsInPartsAndStopsWhenTheRowsChange) {
  const CaseFold fold = TestFold();
  RowStore rows;
  const std::wstring longRow = std::wstring(5000, L'x') + L"Needle" + std::wstring(3000, L'y');
  for (const std::wstring& t : {std::wstring(L"alpha"), std::wstring(L"beta"), longRow,
                                std::wstring(L"alphabet"), std::wstring(L"delta")})
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
      {L"alpha", false, 4, true, found, 0},                                            // round past the end
      {L"alpha", false, 0, false, found, 0},                                           // upward, itself last
      {L"ALPHA", true, 4, false, found, 3},  {L"xNeedley", false, 3, true, found, 2},  // across the parts
      {L"zeta", true, 0, true, none, 0},     {L"", false, 0, true, none, 0},
  };
  for (const auto& c : cases) {
    for (const size_t budget : {size_t{1}, size_t{7}, size_t{4096}, SIZE_MAX}) {
      RowSearch search(rows, TextFinder(c.needle, c.ignoreCase ? &fold : nullptr), c.first, c.down);
      EXPECT_EQ(RunToEnd(search, budget), std::tuple(c.state, c.state == found ? c.row : SIZE_MAX))
          << testing::PrintToString(c.needle) << " from " << c.first << ", budget " << budget;
    }
  }
  // A row added, removed or cleared cancels a search under way: its positions no longer hold.
  for (int change = 0; change < 3; ++change) {
    RowSearch search(rows, TextFinder(L"absent", nullptr), 0, true);
    ASSERT_EQ(search.Step(1), RowSearch::State::Running);
    change == 0 ? (void)rows.Add(L"new") : change == 1 ? rows.Remove(0) : rows.Clear();
    EXPECT_EQ(search.Step(SIZE_MAX), RowSearch::State::Cancelled) << change;
  }
  RowSearch nothing(rows, TextFinder(L"a", nullptr), 0, true);
  EXPECT_EQ(RunToEnd(nothing, 1), std::tuple(none, SIZE_MAX)) << "no rows";
}

}  // namespace
