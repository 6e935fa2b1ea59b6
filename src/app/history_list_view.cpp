#include "app/history_list_view.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "win/unique.h"

namespace app {

void HistoryListView::Create(HWND parent, int id, const wchar_t* name, RECT r, HFONT font) {
  hwnd_ = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, name,
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
      r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  throttle_.Attach(hwnd_, history_.Rows());
  history_.SetObserver(this);
  if (font) ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ListView_SetExtendedListViewStyle(hwnd_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  (void)::SetWindowSubclass(hwnd_, ListProc, 0, 0);  // for Enter

  // The list view's own info tips are not available everywhere; a tooltip of our own always is.
  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, nullptr, nullptr);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = parent;
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  tool.lpszText = const_cast<wchar_t*>(kListTooltip);
  ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 400);
}

void HistoryListView::AddColumnHeader(std::wstring_view text) {
  std::wstring caption(text);
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  col.pszText = caption.data();
  col.cx = 100;
  col.iSubItem = columns_;
  ::SendMessageW(hwnd_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(columns_), reinterpret_cast<LPARAM>(&col));
  ++columns_;
}

void HistoryListView::SetColumnWidth(int column, int pixels) {
  ::SendMessageW(hwnd_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column - 1), MAKELPARAM(pixels, 0));
}

std::optional<size_t> HistoryListView::SelectedItem() const {
  const int i =
      static_cast<int>(::SendMessageW(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (i < 0 || static_cast<size_t>(i) >= history_.Count()) return std::nullopt;
  return static_cast<size_t>(i) + 1;
}

// The dialog manager would take Enter for the window's default button; the list reports it instead.
LRESULT CALLBACK HistoryListView::ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR) {
  if (msg == WM_GETDLGCODE && wParam == VK_RETURN)
    return ::DefSubclassProc(hwnd, msg, wParam, lParam) | DLGC_WANTMESSAGE;
  if (msg == WM_NCDESTROY) (void)::RemoveWindowSubclass(hwnd, ListProc, id);
  if ((msg == WM_STYLECHANGING || msg == WM_STYLECHANGED) && static_cast<int>(wParam) == GWL_STYLE) {
    // Only the hidden mark of a refresh; the scroll bars the control shows meanwhile it must know of.
    const ListPaintThrottle* throttle = ListPaintThrottle::Of(hwnd);
    const auto* change = reinterpret_cast<const STYLESTRUCT*>(lParam);
    if (throttle && throttle->StyleQuiet() && (change->styleOld ^ change->styleNew) == WS_VISIBLE) return 0;
  }
  return ::DefSubclassProc(hwnd, msg, wParam, lParam);
}

void HistoryListView::Select(size_t position) {
  if (position < 1 || position > history_.Count()) return;
  Refresh();
  const int i = static_cast<int>(position - 1);
  ListView_SetItemState(hwnd_, i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void HistoryListView::Changing(Change change) {
  // The control counts the rows as they are before they change: rows added meanwhile first.
  if (change == Change::kRemoved || change == Change::kCleared) Refresh();
}

void HistoryListView::Changed(Change change, size_t position) {
  switch (change) {
    case Change::kAdded:
      throttle_.RowAdded();
      break;
    case Change::kRemoved:
      // The control shifts its selection and focus past the removed row.
      ::SendMessageW(hwnd_, LVM_DELETEITEM, position - 1, 0);
      Refresh();
      break;
    case Change::kCleared:
      ::SendMessageW(hwnd_, LVM_DELETEALLITEMS, 0, 0);
      Refresh();
      break;
    case Change::kTyped:
      // A row the control is not told of yet is drawn when it is.
      if (position <= static_cast<size_t>(::SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0)))
        ListView_RedrawItems(hwnd_, static_cast<int>(position - 1), static_cast<int>(position - 1));
      break;
    case Change::kLoaded:
      Refresh();
      break;
  }
}

LRESULT HistoryListView::OnFindItem(const NMLVFINDITEMW& find) const {
  if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
  const std::wstring_view wanted(find.lvfi.psz);
  const size_t n = history_.Rows().Count();
  if (n == 0 || wanted.empty()) return -1;
  const size_t start = find.iStart >= 0 && static_cast<size_t>(find.iStart) < n ? find.iStart : 0;
  for (size_t k = 0; k < n; ++k) {
    const size_t i = (start + k) % n;
    const std::wstring_view text = history_.Rows().Text(i);
    if (text.size() >= wanted.size() &&
        ::CompareStringOrdinal(text.data(), static_cast<int>(wanted.size()), wanted.data(),
                               static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL) {
      return static_cast<LRESULT>(i);
    }
  }
  return -1;
}

bool HistoryListView::OnNotify(const NMHDR& header, LRESULT& result) {
  if (header.hwndFrom != hwnd_) return false;
  switch (header.code) {
    case LVN_GETDISPINFOW: {
      auto& item = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)).item;
      if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0 && item.iItem >= 0 &&
          static_cast<size_t>(item.iItem) < history_.Rows().Count()) {
        const std::wstring_view text =
            item.iSubItem == 0 ? history_.Rows().Text(static_cast<size_t>(item.iItem))
                               : history::RowTypeLabel(history_.Rows().Type(static_cast<size_t>(item.iItem)));
        // Only the start of a long entry is shown; the control never sees more than its buffer.
        const size_t n = std::min(text.size(), static_cast<size_t>(item.cchTextMax - 1));
        std::wmemcpy(item.pszText, text.data(), n);
        item.pszText[n] = L'\0';
      }
      result = 0;
      return true;
    }
    case LVN_ODFINDITEMW:
      result = OnFindItem(reinterpret_cast<const NMLVFINDITEMW&>(header));
      return true;
    case NM_DBLCLK:
      if (onDblClick) onDblClick();
      result = 0;
      return true;
    case LVN_KEYDOWN: {
      const int shift = (::GetKeyState(VK_SHIFT) < 0 ? 1 : 0) | (::GetKeyState(VK_CONTROL) < 0 ? 2 : 0) |
                        (::GetKeyState(VK_MENU) < 0 ? 4 : 0);
      if (onKeyDown) onKeyDown(reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey, shift);
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace app
