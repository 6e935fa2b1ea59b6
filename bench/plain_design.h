// The plain design the benchmark compares against: a list view filled row by row, a linear scan
// for duplicates, and the stored list built piece by piece. Only the benchmark uses it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

class PlainList {
 public:
  explicit PlainList(HWND parent);
  ~PlainList();
  void Restore(const std::vector<std::wstring>& texts);
  bool IsListed(const std::wstring& text) const;
  void Add(const std::wstring& text);
  std::wstring BuildFiles() const;
  void RemoveMiddle();
  int Count() const;

 private:
  std::wstring Text(int i) const;
  HWND list_;
  mutable std::wstring buffer_ = std::wstring(32768, L'\0');  // the longest entry the mix makes fits
};

}  // namespace bench
