// Finding a text among the history's rows, read where they are: no copy, no conversion. Case is
// ignored through a table made once; a search of many rows goes in steps, so that the window can
// answer between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "history/row_store.h"

namespace history {

// What each UTF-16 unit is taken for when case is ignored.
class CaseFold {
 public:
  static constexpr size_t kUnits = 65536;
  // One entry per unit; a shorter table leaves the units past it as they are.
  explicit CaseFold(std::vector<wchar_t> table);
  wchar_t operator()(wchar_t unit) const { return table_[static_cast<uint16_t>(unit)]; }
  // Every unit taken for the same as unit, unit included, in order.
  std::vector<wchar_t> Alike(wchar_t unit) const;

 private:
  std::vector<wchar_t> table_;
  std::vector<uint32_t> byFold_;  // every unit after what it is taken for: fold << 16 | unit, in order
};

// One text to look for, made ready once for many rows.
class TextFinder {
 public:
  // fold: null for an exact match; it must outlive the finder.
  TextFinder(std::wstring_view needle, const CaseFold* fold);
  // Whether text holds the needle; an empty needle is held nowhere.
  bool In(std::wstring_view text) const;
  size_t size() const { return needle_.size(); }

 private:
  std::wstring needle_;  // folded when case is ignored
  const CaseFold* fold_;
  // The units a candidate may start and end with, each repeated to fill kWidth slots.
  static constexpr int kWidth = 4;
  alignas(16) uint16_t first_[kWidth][8] = {};
  alignas(16) uint16_t last_[kWidth][8] = {};
  int width_ = 0;  // slots in use; 0: too many alike units, looked at one by one
};

// One search over the rows: each row once, from first on, down (or up) and round past the end.
class RowSearch {
 public:
  enum class State { Running, Found, NotFound, Cancelled };
  RowSearch(const RowStore& rows, TextFinder finder, size_t first, bool down);
  // Reads about budget characters more (a whole row, or the next part of a longer one). A change to
  // the rows since the search began cancels it: its positions no longer hold.
  State Step(size_t budget);
  // The row found, once Step has said so.
  size_t Found() const { return at_; }

 private:
  const RowStore& rows_;
  TextFinder finder_;
  uint64_t changes_;
  size_t count_, at_, left_;
  size_t offset_ = 0;  // how much of the row at hand was read
  bool down_;
  State state_ = State::Running;
};

}  // namespace history
