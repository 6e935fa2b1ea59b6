// The history rows behind the list view: column-1 text and type label, in order of addition,
// with a hash index over the texts so that "is this text listed?" costs the same at any size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace app {

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
  void Reserve(size_t rows);
  size_t Count() const { return rows_.size(); }
  std::wstring_view Text(size_t index) const;
  RowType Type(size_t index) const { return rows_[index].type; }
  void SetType(size_t index, RowType type) { rows_[index].type = type; }
  void Remove(size_t index);
  void Clear();
  // Exact, case-sensitive equality with the column-1 text of any row.
  bool Contains(std::wstring_view text) const { return index_.find(text) != index_.end(); }

 private:
  // One allocation per text: this header, then its characters and a NUL.
  struct Block {
    uint32_t length;
  };
  static_assert(sizeof(Block) % alignof(wchar_t) == 0, "the characters follow the header aligned");
  struct Row {
    Block* block;
    RowType type;
  };
  static Block* NewBlock(std::wstring_view text);
  static wchar_t* Chars(Block* b) {
    return reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(b) + sizeof(Block));
  }
  static const wchar_t* Chars(const Block* b) {
    return reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(b) + sizeof(Block));
  }
  static std::wstring_view View(const Block* b) { return {Chars(b), b->length}; }

  std::vector<Row> rows_;
  std::unordered_map<std::wstring_view, uint32_t> index_;  // text -> number of rows holding it
};

}  // namespace app
