// The row store's duplicate index, which must stay right through removals.
#include <gtest/gtest.h>

#include "history/row_store.h"

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
