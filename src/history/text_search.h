// Finding a text among the history's rows, read where they are: no copy, no conversion. A search of
// many rows goes in steps, so that the window can answer between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "history/row_store.h"

namespace history {

// One text to look for, made ready once for many rows. With case ignored, a text holds the needle
// where a run of its characters folds (history/case_fold.h) to what the needle folds to.
class TextFinder {
 public:
  TextFinder(std::wstring_view needle, bool ignoreCase);
  // Whether text holds the needle; an empty needle is held nowhere.
  bool In(std::wstring_view text) const;
  // The most UTF-16 units a match can take.
  size_t Longest() const { return longest_; }

 private:
  bool FoldedAt(const wchar_t* text, size_t n, size_t i) const;

  std::wstring needle_;    // case matched
  std::u32string folded_;  // case ignored: the needle folded
  size_t shortest_ = 0, longest_ = 0;
  // The units a candidate may have at its start and secondAt_ units on (at the needle's last, the
  // next one, or the start again), each repeated to fill the slots.
  static constexpr int kWidth = 8;
  uint16_t first_[kWidth][8] = {};
  uint16_t second_[kWidth][8] = {};
  size_t secondAt_ = 0;
  int width_ = 0;  // slots in use; 0: too many units alike, looked at one by one
};

// One search over the rows: each row once, from first on, down (or up) and round past the end.
class RowSearch {
 public:
  enum class State { Running, Found, NotFound, Cancelled };
  RowSearch(const RowStore& rows, TextFinder finder, size_t first, bool down);
  // Reads about budget characters more (a whole row, or the next part of a longer one). Rows added
  // since the search began are not looked at; a row removed cancels it: its positions no longer hold.
  State Step(size_t budget);
  // The row found, once Step has said so.
  size_t Found() const { return at_; }

 private:
  const RowStore& rows_;
  TextFinder finder_;
  uint64_t changes_;
  size_t rowsNow_;  // the rows' count at changes_
  size_t count_, at_, left_;
  size_t offset_ = 0;  // how much of the row at hand was read
  bool down_;
  State state_ = State::Running;
};

}  // namespace history
