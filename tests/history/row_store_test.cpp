// The row store's duplicate index, which must stay right through removals.
#include <gtest/gtest.h>

#include "history/row_store.h"

namespace {

TEST(RowStore, DuplicateRowsStayIndexedUntilTheLastGoes) {
  // Restored lists may hold the same text twice; removing the first copy must not lose the second.
  app::RowStore s;
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

}  // namespace
