// Unicode's full case folding (CaseFolding.txt, statuses C and F, every plane): what two texts that
// differ only in case both come to, "STRASSE" and "straße" to "strasse". From a table made by
// tools/make-case-fold, with no call to the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "history/case_fold_table.h"

namespace history {

// Writes the one to three code points c folds to; returns how many.
inline int FoldCase(char32_t c, char32_t out[3]) {
  namespace t = case_fold_table;
  const unsigned kind = c < t::kEnd ? t::kKinds[t::kBlocks[c >> t::kShift]][c & ((1u << t::kShift) - 1)] : 0;
  if (kind < t::kFirstExpansion) {
    out[0] = static_cast<char32_t>(static_cast<int32_t>(c) + t::kDeltas[kind]);
    return 1;
  }
  const char16_t* e = t::kExpansions[kind - t::kFirstExpansion];
  out[0] = e[0];
  out[1] = e[1];
  out[2] = e[2];
  return e[2] ? 3 : 2;
}

// Calls f(c, fold, size) for every code point c that folds to something other than itself.
template <class F>
void ForEachFolding(F&& f) {
  namespace t = case_fold_table;
  for (size_t block = 0; block < std::size(t::kBlocks); ++block) {
    if (t::kBlocks[block] == 0) continue;
    for (char32_t c = static_cast<char32_t>(block << t::kShift), end = c + (1u << t::kShift); c < end; ++c) {
      char32_t fold[3] = {};
      const int size = FoldCase(c, fold);
      if (size > 1 || fold[0] != c) f(c, fold, size);
    }
  }
}

}  // namespace history
