// The history rows behind the list view: column-1 text and type label, in order of addition,
// with a hash index over the texts so that "is this text listed?" costs the same at any size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "win/text_block.h"

namespace history {

enum class RowType : uint8_t { None, Text, RichText };

std::wstring_view RowTypeLabel(RowType type);

class RowStore {
 public:
  RowStore() = default;
  RowStore(const RowStore&) = delete;
  RowStore& operator=(const RowStore&) = delete;
  ~RowStore();

  // Appends a row at the end; returns its 0-based position.
  size_t Add(std::wstring_view text, RowType type = RowType::None);
  // The same, keeping the text where it already is.
  size_t Add(win::TextBlock&& text, RowType type = RowType::None);
  void Reserve(size_t rows);
  size_t Count() const { return rows_.size(); }
  std::wstring_view Text(size_t index) const;
  RowType Type(size_t index) const { return rows_[index].type; }
  void SetType(size_t index, RowType type) { rows_[index].type = type; }
  // Makes what removing count rows needs, so that Remove and Clear then cannot fail.
  void MakeRoomToRemove(size_t count);
  void Remove(size_t index);
  void Clear();
  // Every row's text, for reading on another thread while the rows go on changing: until Unpin,
  // the texts of rows removed meanwhile are kept.
  std::vector<std::wstring_view> Pin();
  void Unpin();
  // Exact, case-sensitive equality with the column-1 text of any row.
  bool Contains(std::wstring_view text) const { return index_.find(text) != index_.end(); }
  // Counts every row added or removed, so that work spread over time can tell the rows moved.
  uint64_t Changes() const { return changes_; }

 private:
  // One allocation per text (a win::TextBlock kept in its raw form).
  struct Row {
    void* block;
    RowType type;
  };
  static std::wstring_view View(const void* block) { return win::TextBlock::View(block); }

  void Free(void* block);

  std::vector<Row> rows_;
  int pins_ = 0;
  std::vector<void*> kept_;                                // removed while pinned
  std::unordered_map<std::wstring_view, uint32_t> index_;  // text -> number of rows holding it
  uint64_t changes_ = 0;
};

}  // namespace history
