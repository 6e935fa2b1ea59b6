// ListView1: the history list, a virtual report list view over the history's rows.
// It shows the history's rows and passes the user's changes on to the history, which tells it of
// every change made. Positions are 1-based, as the rest of the program counts rows; positions
// outside 1..Count() are ignored, and read as an empty row.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/list_paint_throttle.h"
#include "history/history.h"

namespace app {

inline constexpr wchar_t kListTooltip[] =
    L"Double-click item to remove it. Move bar to right and out of window to reveal full names.";

class HistoryListView : public history::HistoryObserver {
 public:
  explicit HistoryListView(history::History& history) : history_(history) {}
  ~HistoryListView() override = default;
  HistoryListView(const HistoryListView&) = delete;
  HistoryListView& operator=(const HistoryListView&) = delete;

  // Creates the control as a child of parent, at the given pixel rectangle; a screen reader
  // announces it by name. From then on it shows the history's rows as they change.
  void Create(HWND parent, int id, const wchar_t* name, RECT bounds, HFONT font);
  HWND hwnd() const { return hwnd_; }

  void AddColumnHeader(std::wstring_view text);
  void SetColumnWidth(int column, int pixels);

  // The history's own changes, by the list's names for them.
  size_t AddItem(std::wstring_view text) { return history_.Add(text); }
  void SetSubItem(size_t position, history::RowType type) { history_.SetType(position, type); }
  void Remove(size_t position) { history_.Remove(position); }
  void Clear() { history_.Clear(); }
  size_t Count() const { return history_.Count(); }
  std::wstring_view ItemText(size_t position) const { return history_.Text(position); }
  history::RowType ItemType(size_t position) const { return history_.Type(position); }
  bool Contains(std::wstring_view text) const { return history_.Contains(text); }
  const history::RowStore& Rows() const { return history_.Rows(); }
  // The selected row's position, or nothing when no row is selected.
  std::optional<size_t> SelectedItem() const;
  void Select(size_t position);
  // Tells the control of every row now.
  void Refresh() { throttle_.Refresh(); }

  // Handles the control's notifications sent to its parent; true when handled, with the result.
  bool OnNotify(const NMHDR& header, LRESULT& result);
  std::function<void()> onDblClick;
  // A key pressed in the list, with Shift, Ctrl and Alt held as 1, 2 and 4 in shift.
  std::function<void(WORD key, int shift)> onKeyDown;

  void Changing(Change change) override;
  void Changed(Change change, size_t position) override;

 private:
  static LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR);
  LRESULT OnFindItem(const NMLVFINDITEMW& find) const;

  history::History& history_;
  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;  // destroyed with the list's parent, like the list itself
  int columns_ = 0;
  ListPaintThrottle throttle_;
};

}  // namespace app
