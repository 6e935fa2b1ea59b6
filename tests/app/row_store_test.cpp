// The row store: order of rows and the duplicate index, which must stay right through removals.
#include <gtest/gtest.h>

#include "app/row_store.h"

namespace {

using app::RowStore;
using app::RowType;

TEST(RowStore, KeepsOrderAndRemovesByPosition) {
  RowStore s;
  s.Add(L"one");
  s.Add(L"two", RowType::Text);
  s.Add(L"three", RowType::RichText);
  s.Remove(0);
  ASSERT_EQ(s.Count(), 2u);
  EXPECT_EQ(s.Text(0), L"two");
  EXPECT_EQ(s.Text(1), L"three");
  EXPECT_EQ(app::RowTypeLabel(s.Type(1)), L"RichText");
  EXPECT_FALSE(s.Contains(L"one"));
  EXPECT_TRUE(s.Contains(L"three"));
}

TEST(RowStore, EqualityIsExact) {
  RowStore s;
  s.Add(L"Hello");
  s.Add(L"");
  EXPECT_TRUE(s.Contains(L"Hello"));
  EXPECT_TRUE(s.Contains(L""));
  for (const wchar_t* other : {L"hello", L"Hello ", L"Hello\r\n", L" Hello"})
    EXPECT_FALSE(s.Contains(other)) << other;
}

TEST(RowStore, DuplicateRowsStayIndexedUntilTheLastGoes) {
  // Restored lists may hold the same text twice; removing the first copy must not lose the second.
  RowStore s;
  s.Add(L"same");
  s.Add(L"other");
  s.Add(L"same");
  s.Remove(0);
  EXPECT_TRUE(s.Contains(L"same"));
  s.Add(L"filler that moves memory around");
  EXPECT_TRUE(s.Contains(L"same"));
  s.Remove(1);  // the second "same"
  EXPECT_FALSE(s.Contains(L"same"));
  EXPECT_TRUE(s.Contains(L"other"));
}

TEST(RowStore, ClearEmptiesRowsAndIndex) {
  RowStore s;
  for (int i = 0; i < 1000; ++i) s.Add(std::to_wstring(i));
  s.Clear();
  EXPECT_EQ(s.Count(), 0u);
  EXPECT_FALSE(s.Contains(L"5"));
  s.Add(L"5");
  EXPECT_TRUE(s.Contains(L"5"));
}

}  // namespace
