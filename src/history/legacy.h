// The history as an older version of the program left it: the stored list, named by an identity at
// its start (or by its hash), and beside it history.journal, .next, .prev, .side and .side.<n>,
// whose records (with or without a CRC) follow the list stored under an identity. Read once, at
// the first start of this version, and never written: the history is stored anew from it, and
// these files go once that is on the disk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "history/row_store.h"
#include "history/storage_io.h"

namespace history {

struct LegacyEntry {
  char op;            // 'A', 'R', 'C', or 'S' for a mark
  uint32_t position;  // 1-based, for 'R'
  std::wstring text;  // an 'A''s text, or a mark's identity
  bool operator==(const LegacyEntry&) const = default;
};

struct LegacyJournal {
  bool valid = false;  // it starts with a header
  uint64_t base = 0;   // the identity of the list it applies to
  std::vector<LegacyEntry> entries;
};

LegacyJournal ParseLegacyJournal(std::string_view bytes);

// Adds the older version's list to rows: the stored list, the journal that goes with it, and what
// its other journals added. False when one of them could not be read.
bool RecoverLegacy(Folder& folder, const std::vector<std::wstring>& names, std::wstring_view files,
                   RowStore& rows);

}  // namespace history
