#include "app/list_paint_throttle.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

#include "win/report.h"
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

ListPaintThrottle::~ListPaintThrottle() {
  // The window may outlive us (or be gone, its handle taken by another): only ours is touched. A
  // WM_TIMER already queued then finds no throttle.
  if (list_ && ::GetWindowLongPtrW(list_, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this)) {
    ::KillTimer(list_, kRefreshTimer);
    ::KillTimer(list_, kFrameTimer);
    ::SetWindowLongPtrW(list_, GWLP_USERDATA, 0);
  }
}

void ListPaintThrottle::Attach(HWND list, const history::RowStore& rows) {
  list_ = list;
  rows_ = &rows;
  // The timers find the throttle through the list's window.
  ::SetWindowLongPtrW(list_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

ListPaintThrottle* ListPaintThrottle::Of(HWND list) {
  return reinterpret_cast<ListPaintThrottle*>(::GetWindowLongPtrW(list, GWLP_USERDATA));
}

void ListPaintThrottle::RowAdded() {
  lastRowAt_ = ::GetTickCount();
  // The timer waits behind the messages of a long burst; the rows do not wait longer than this.
  if (refreshPending_ && lastRowAt_ - pendingSince_ >= kLongestRefreshDelayMs) {
    Refresh(false);
  } else {
    RefreshWhenIdle();
  }
}

// Only rows that come into view are drawn anew; the count is told only when the control's differs.
// The control redraws its scroll bar at once when told a new count, which under Wine holds the
// window's thread for 10 to 60 ms; told while it is marked hidden (a mark it is not told of, or it
// would lay itself out again), it draws nothing. The rows added are painted with the next paint;
// the scroll bar, the costliest part, once the rows stop coming, and meanwhile once a second.
void ListPaintThrottle::Refresh(bool settled) {
  if (refreshPending_) {
    refreshPending_ = false;
    ::KillTimer(list_, kRefreshTimer);
  }
  const auto shown = static_cast<size_t>(::SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
  if (shown != rows_->Count()) SetCount(shown);
  if (!framePending_) return;
  const DWORD now = ::GetTickCount();
  if (settled || now - framePaintedAt_ >= kLongestFrameDelayMs) {
    framePending_ = false;
    framePaintedAt_ = now;
    // Painted on its own, not with the rows, so that the window answers in between.
    if (!::SetTimer(list_, kFrameTimer, USER_TIMER_MINIMUM, FrameTimer)) InvalidateFrame(list_, RDW_ERASENOW);
  } else {
    RefreshWhenIdle();
  }
}

void ListPaintThrottle::SetCount(size_t shown) {
  const LONG_PTR style = ::GetWindowLongPtrW(list_, GWL_STYLE);
  const bool visible = (style & WS_VISIBLE) != 0;
  const ScrollBarsLook before = visible ? LookOfScrollBars(list_) : ScrollBarsLook{};
  styleQuiet_ = true;
  if (visible) ::SetWindowLongPtrW(list_, GWL_STYLE, style & ~WS_VISIBLE);
  ::SendMessageW(list_, LVM_SETITEMCOUNT, static_cast<WPARAM>(rows_->Count()),
                 LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
  // Not the style read before: the control may have shown a scroll bar meanwhile.
  if (visible) ::SetWindowLongPtrW(list_, GWL_STYLE, ::GetWindowLongPtrW(list_, GWL_STYLE) | WS_VISIBLE);
  styleQuiet_ = false;
  if (!visible) return;  // shown whole when it is shown again
  if (rows_->Count() < shown) {
    InvalidateFrame(list_);
    ::InvalidateRect(list_, nullptr, TRUE);
    return;
  }
  switch (LookChange(before, LookOfScrollBars(list_))) {
    case 2:  // the frame is laid out anew: painted with the rows
      InvalidateFrame(list_);
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
  const auto top = static_cast<size_t>(::SendMessageW(list_, LVM_GETTOPINDEX, 0, 0));
  const auto page = static_cast<size_t>(::SendMessageW(list_, LVM_GETCOUNTPERPAGE, 0, 0));
  const size_t first = std::max(shown, top), last = std::min(rows_->Count() - 1, top + page);
  if (first <= last) ListView_RedrawItems(list_, static_cast<int>(first), static_cast<int>(last));
}

// Rows added one after another reach the control together, a moment after the last of them (or
// every quarter second while they keep coming) and never while other messages wait: each change of
// the count costs more than recording a clipboard change, and a burst would otherwise fall behind.
void ListPaintThrottle::RefreshWhenIdle() {
  if (refreshPending_ || !list_) return;
  pendingSince_ = ::GetTickCount();
  refreshPending_ = ::SetTimer(list_, kRefreshTimer, kRefreshDelayMs, RefreshTimer) != 0;
  if (!refreshPending_) Refresh();  // no timer to be had: at once
}

// Every kRefreshDelayMs while rows wait.
void CALLBACK ListPaintThrottle::RefreshTimer(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  try {
    auto* self = reinterpret_cast<ListPaintThrottle*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) {
      ::KillTimer(hwnd, id);
      return;
    }
    const DWORD now = ::GetTickCount();
    const DWORD quiet = now - self->lastRowAt_;
    if (quiet < kRefreshDelayMs && now - self->pendingSince_ < kLongestRefreshDelayMs) return;
    self->Refresh(quiet >= kSettledAfterMs);
  } catch (...) {
    win::ReportCaught(L"list refresh");  // the next change refreshes again
  }
}

}  // namespace app
