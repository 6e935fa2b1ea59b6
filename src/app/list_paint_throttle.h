// When the history list tells its control of new rows, and what it has repainted then: a fast
// burst of rows would otherwise keep the window busy painting.
#pragma once

#include <windows.h>

#include "history/row_store.h"

namespace app {

class ListPaintThrottle {
 public:
  ListPaintThrottle() = default;
  ~ListPaintThrottle();
  ListPaintThrottle(const ListPaintThrottle&) = delete;
  ListPaintThrottle& operator=(const ListPaintThrottle&) = delete;

  // The list control that shows rows.
  void Attach(HWND list, const history::RowStore& rows);
  static ListPaintThrottle* Of(HWND list);
  // A row was appended: the control hears of it soon, with the rows that follow it.
  void RowAdded();
  // Tells the control the rows' count now. settled: no row is coming in, so the scroll bar too is
  // painted now.
  void Refresh(bool settled = true);
  // True while the control's hidden mark is the throttle's own, which the control must not hear of.
  bool StyleQuiet() const { return styleQuiet_; }

 private:
  void RefreshWhenIdle();
  void SetCount(size_t shown);
  static void CALLBACK RefreshTimer(HWND hwnd, UINT, UINT_PTR id, DWORD);

  HWND list_ = nullptr;
  const history::RowStore* rows_ = nullptr;
  bool refreshPending_ = false;
  DWORD pendingSince_ = 0;  // tick count of the first row that waits
  DWORD lastRowAt_ = 0;
  bool framePending_ = false;  // the scroll bar shows an earlier count
  DWORD framePaintedAt_ = 0;
  bool styleQuiet_ = false;
};

}  // namespace app
