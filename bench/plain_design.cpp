#include "plain_design.h"

#include <commctrl.h>

namespace bench {

PlainList::PlainList(HWND parent) {
  list_ = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 8, 8, 497, 351, parent,
                            nullptr, nullptr, nullptr);
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT | LVCF_WIDTH;
  col.cx = 400;
  col.pszText = const_cast<wchar_t*>(L"Saved Clipboard Entries");
  ::SendMessageW(list_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
  col.pszText = const_cast<wchar_t*>(L"Clipboard Type");
  col.cx = 0;
  ::SendMessageW(list_, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
}

PlainList::~PlainList() {
  ::DestroyWindow(list_);
}

int PlainList::Count() const {
  return static_cast<int>(::SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
}

void PlainList::Add(const std::wstring& text) {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = Count();
  item.pszText = const_cast<wchar_t*>(text.c_str());
  const int at = static_cast<int>(::SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  item.iItem = at;
  item.iSubItem = 1;
  item.pszText = const_cast<wchar_t*>(L"Text");
  ::SendMessageW(list_, LVM_SETITEMTEXTW, at, reinterpret_cast<LPARAM>(&item));
}

void PlainList::Restore(const std::vector<std::wstring>& texts) {
  for (const auto& t : texts) Add(t);
}

std::wstring PlainList::Text(int i) const {
  LVITEMW item{};
  item.pszText = buffer_.data();
  item.cchTextMax = static_cast<int>(buffer_.size());
  const int n = static_cast<int>(::SendMessageW(list_, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item)));
  return std::wstring(buffer_.data(), static_cast<size_t>(n));
}

bool PlainList::IsListed(const std::wstring& text) const {
  const int n = Count();
  for (int i = 0; i < n; ++i) {
    if (Text(i) == text) return true;
  }
  return false;
}

std::wstring PlainList::BuildFiles() const {
  std::wstring files;
  const int n = Count();
  for (int i = 0; i < n; ++i) files = files + Text(i) + L";";  // a new string every time
  return files;
}

void PlainList::RemoveMiddle() {
  ::SendMessageW(list_, LVM_DELETEITEM, Count() / 2, 0);
}

}  // namespace bench
