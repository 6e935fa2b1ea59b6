// What the recorder needs of the history list, declared here so that the recorder does not depend
// on the window that shows the list.
#pragma once

#include <cstddef>
#include <string_view>

#include "history/row_store.h"
#include "win/text_block.h"

namespace clip {

class HistoryTarget {
 public:
  virtual ~HistoryTarget() = default;
  virtual bool Contains(std::wstring_view text) const = 0;
  // Appends a row and returns its position (1 for the first).
  virtual size_t AddItem(std::wstring_view text) = 0;
  // The same, keeping the text where it already is: a huge text is not copied again.
  virtual size_t AddItem(win::TextBlock&& text) = 0;
  virtual void SetSubItem(size_t position, history::RowType type) = 0;
  virtual std::wstring_view ItemText(size_t position) const = 0;
};

}  // namespace clip
