#include "app/history_list_view.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "win/unique.h"

namespace app {
namespace {

constexpr UINT kRefreshDelayMs = 30;  // well below what the eye notices
constexpr DWORD kLongestRefreshDelayMs = 250;
constexpr DWORD kSettledAfterMs = 100;  // without a new row: the scroll bar is painted
constexpr DWORD kLongestFrameDelayMs = 1000;
// On the list's own window, so an id unlike any the control itself may use there.
constexpr UINT_PTR kRefreshTimer = 0x5044;
constexpr UINT_PTR kFrameTimer = 0x5045;

// The control's frame alone, its borders and scroll bars, to be painted with the next paint (now:
// RDW_ERASENOW, painted at once).
void InvalidateFrame(HWND hwnd, UINT now = 0) {
  RECT outer{}, client{};
  if (!::GetWindowRect(hwnd, &outer) || !::GetClientRect(hwnd, &client)) return;
  ::MapWindowPoints(HWND_DESKTOP, hwnd, reinterpret_cast<POINT*>(&outer), 2);
  win::UniqueHrgn frame(::CreateRectRgnIndirect(&outer));
  win::UniqueHrgn inside(::CreateRectRgnIndirect(&client));
  if (!frame || !inside || ::CombineRgn(frame.get(), frame.get(), inside.get(), RGN_DIFF) == ERROR) return;
  (void)::RedrawWindow(hwnd, nullptr, frame.get(), RDW_FRAME | RDW_INVALIDATE | RDW_NOCHILDREN | now);
}

void CALLBACK FrameTimer(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(hwnd, id);
  InvalidateFrame(hwnd, RDW_ERASENOW);
}

// How the scroll bars look: where each stands, its state and its thumb.
struct ScrollBarsLook {
  SCROLLBARINFO bars[2]{};
  bool known = false;
};

ScrollBarsLook LookOfScrollBars(HWND hwnd) {
  ScrollBarsLook look;
  look.bars[0].cbSize = look.bars[1].cbSize = sizeof(SCROLLBARINFO);
  look.known = ::GetScrollBarInfo(hwnd, OBJID_VSCROLL, &look.bars[0]) &&
               ::GetScrollBarInfo(hwnd, OBJID_HSCROLL, &look.bars[1]);
  return look;
}

// 0: alike; 1: a thumb or an arrow differs; 2: a scroll bar came, went or moved.
int LookChange(const ScrollBarsLook& a, const ScrollBarsLook& b) {
  if (!a.known || !b.known) return 2;
  int change = 0;
  for (int i = 0; i < 2; ++i) {
    const SCROLLBARINFO &x = a.bars[i], &y = b.bars[i];
    if (!::EqualRect(&x.rcScrollBar, &y.rcScrollBar) || x.rgstate[0] != y.rgstate[0]) return 2;
    if (x.xyThumbTop != y.xyThumbTop || x.xyThumbBottom != y.xyThumbBottom ||
        !std::equal(std::begin(x.rgstate), std::end(x.rgstate), y.rgstate))
      change = 1;
  }
  return change;
}

}  // namespace

HistoryListView::~HistoryListView() {
  // The window may outlive us (or be gone, its handle taken by another): only ours is touched. A
  // WM_TIMER already queued then finds no list.
  if (hwnd_ && ::GetWindowLongPtrW(hwnd_, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this)) {
    ::KillTimer(hwnd_, kRefreshTimer);
    ::KillTimer(hwnd_, kFrameTimer);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  }
}

void HistoryListView::Create(HWND parent, int id, const wchar_t* name, RECT r, HFONT font) {
  hwnd_ = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, name,
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
      r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  // The refresh timer finds the list through its window.
  ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
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

// Only rows that come into view are drawn anew; the count is told only when the control's differs.
// The control redraws its scroll bar at once when told a new count, which under Wine holds the
// window's thread for 10 to 60 ms; told while it is marked hidden (a mark it is not told of, or it
// would lay itself out again), it draws nothing. The rows added are painted with the next paint;
// the scroll bar, the costliest part, once the rows stop coming, and meanwhile once a second.
void HistoryListView::Refresh(bool settled) {
  if (refreshPending_) {
    refreshPending_ = false;
    ::KillTimer(hwnd_, kRefreshTimer);
  }
  const auto shown = static_cast<size_t>(::SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0));
  if (shown != store_.Count()) SetCount(shown);
  if (!framePending_) return;
  const DWORD now = ::GetTickCount();
  if (settled || now - framePaintedAt_ >= kLongestFrameDelayMs) {
    framePending_ = false;
    framePaintedAt_ = now;
    // Painted on its own, not with the rows, so that the window answers in between.
    if (!::SetTimer(hwnd_, kFrameTimer, USER_TIMER_MINIMUM, FrameTimer)) InvalidateFrame(hwnd_, RDW_ERASENOW);
  } else {
    RefreshWhenIdle();
  }
}

void HistoryListView::SetCount(size_t shown) {
  const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
  const bool visible = (style & WS_VISIBLE) != 0;
  const ScrollBarsLook before = visible ? LookOfScrollBars(hwnd_) : ScrollBarsLook{};
  styleQuiet_ = true;
  if (visible) ::SetWindowLongPtrW(hwnd_, GWL_STYLE, style & ~WS_VISIBLE);
  ::SendMessageW(hwnd_, LVM_SETITEMCOUNT, static_cast<WPARAM>(store_.Count()),
                 LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
  // Not the style read before: the control may have shown a scroll bar meanwhile.
  if (visible) ::SetWindowLongPtrW(hwnd_, GWL_STYLE, ::GetWindowLongPtrW(hwnd_, GWL_STYLE) | WS_VISIBLE);
  styleQuiet_ = false;
  if (!visible) return;  // shown whole when it is shown again
  if (store_.Count() < shown) {
    InvalidateFrame(hwnd_);
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    return;
  }
  switch (LookChange(before, LookOfScrollBars(hwnd_))) {
    case 2:  // the frame is laid out anew: painted with the rows
      InvalidateFrame(hwnd_);
      framePending_ = false;
      framePaintedAt_ = ::GetTickCount();
      break;
    case 1:
      framePending_ = true;  // a long list's thumb seldom moves by a whole pixel
      break;
    default:
      break;
  }
  // Only the added rows that are in view: the control goes through every row it is given.
  const auto top = static_cast<size_t>(::SendMessageW(hwnd_, LVM_GETTOPINDEX, 0, 0));
  const auto page = static_cast<size_t>(::SendMessageW(hwnd_, LVM_GETCOUNTPERPAGE, 0, 0));
  const size_t first = std::max(shown, top), last = std::min(store_.Count() - 1, top + page);
  if (first <= last) ListView_RedrawItems(hwnd_, static_cast<int>(first), static_cast<int>(last));
}

size_t HistoryListView::AddItem(std::wstring_view text) {
  return AddItem(win::TextBlock(text));
}

size_t HistoryListView::AddItem(win::TextBlock&& text) {
  store_.Add(std::move(text));
  try {
    if (onChange) onChange(history::JournalOp::Add, store_.Count(), store_.Text(store_.Count() - 1));
  } catch (...) {
    store_.Remove(store_.Count() - 1);  // a row that was never journaled would be lost in a crash
    throw;
  }
  lastRowAt_ = ::GetTickCount();
  // The timer waits behind the messages of a long burst; the rows do not wait longer than this.
  if (refreshPending_ && lastRowAt_ - pendingSince_ >= kLongestRefreshDelayMs) {
    Refresh(false);
  } else {
    RefreshWhenIdle();
  }
  return store_.Count();
}

void HistoryListView::SetSubItem(size_t position, history::RowType type) {
  if (!IsRow(position)) return;
  store_.SetType(position - 1, type);
  // A row the control is not told of yet is drawn when it is.
  if (position <= static_cast<size_t>(::SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0)))
    ListView_RedrawItems(hwnd_, static_cast<int>(position - 1), static_cast<int>(position - 1));
}

std::optional<size_t> HistoryListView::SelectedItem() const {
  const int i =
      static_cast<int>(::SendMessageW(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (i < 0 || static_cast<size_t>(i) >= store_.Count()) return std::nullopt;
  return static_cast<size_t>(i) + 1;
}

// Rows added one after another reach the control together, a moment after the last of them (or
// every quarter second while they keep coming) and never while other messages wait: each change of
// the count costs more than recording a clipboard change, and a burst would otherwise fall behind.
void HistoryListView::RefreshWhenIdle() {
  if (refreshPending_ || !hwnd_) return;
  pendingSince_ = ::GetTickCount();
  refreshPending_ = ::SetTimer(hwnd_, kRefreshTimer, kRefreshDelayMs, RefreshTimer) != 0;
  if (!refreshPending_) Refresh();  // no timer to be had: at once
}

// Every kRefreshDelayMs while rows wait.
void CALLBACK HistoryListView::RefreshTimer(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  try {
    auto* self = reinterpret_cast<HistoryListView*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) {
      ::KillTimer(hwnd, id);
      return;
    }
    const DWORD now = ::GetTickCount();
    const DWORD quiet = now - self->lastRowAt_;
    if (quiet < kRefreshDelayMs && now - self->pendingSince_ < kLongestRefreshDelayMs) return;
    self->Refresh(quiet >= kSettledAfterMs);
  } catch (...) {
    // Nothing may unwind into the system; the next change refreshes again.
  }
}

// The dialog manager would take Enter for the window's default button; the list reports it instead.
LRESULT CALLBACK HistoryListView::ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR) {
  if (msg == WM_GETDLGCODE && wParam == VK_RETURN)
    return ::DefSubclassProc(hwnd, msg, wParam, lParam) | DLGC_WANTMESSAGE;
  if (msg == WM_NCDESTROY) (void)::RemoveWindowSubclass(hwnd, ListProc, id);
  if ((msg == WM_STYLECHANGING || msg == WM_STYLECHANGED) && static_cast<int>(wParam) == GWL_STYLE) {
    // Only the hidden mark of a refresh; the scroll bars the control shows meanwhile it must know of.
    const auto* self = reinterpret_cast<const HistoryListView*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    const auto* change = reinterpret_cast<const STYLESTRUCT*>(lParam);
    if (self && self->styleQuiet_ && (change->styleOld ^ change->styleNew) == WS_VISIBLE) return 0;
  }
  return ::DefSubclassProc(hwnd, msg, wParam, lParam);
}

void HistoryListView::Select(size_t position) {
  if (!IsRow(position)) return;
  Refresh();
  const int i = static_cast<int>(position - 1);
  ListView_SetItemState(hwnd_, i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void HistoryListView::Remove(size_t position) {
  if (!IsRow(position)) return;
  Refresh();
  store_.Remove(position - 1);
  // The control shifts its selection and focus past the removed row.
  ::SendMessageW(hwnd_, LVM_DELETEITEM, position - 1, 0);
  Refresh();
  if (onChange) onChange(history::JournalOp::Remove, position, {});
}

void HistoryListView::Clear() {
  Refresh();
  store_.Clear();
  ::SendMessageW(hwnd_, LVM_DELETEALLITEMS, 0, 0);
  Refresh();
  if (onChange) onChange(history::JournalOp::Clear, 0, {});
}

LRESULT HistoryListView::OnFindItem(const NMLVFINDITEMW& find) const {
  if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
  const std::wstring_view wanted(find.lvfi.psz);
  const size_t n = store_.Count();
  if (n == 0 || wanted.empty()) return -1;
  const size_t start = find.iStart >= 0 && static_cast<size_t>(find.iStart) < n ? find.iStart : 0;
  for (size_t k = 0; k < n; ++k) {
    const size_t i = (start + k) % n;
    const std::wstring_view text = store_.Text(i);
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
          static_cast<size_t>(item.iItem) < store_.Count()) {
        const std::wstring_view text =
            item.iSubItem == 0 ? store_.Text(static_cast<size_t>(item.iItem))
                               : history::RowTypeLabel(store_.Type(static_cast<size_t>(item.iItem)));
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
