// ListView1: the history list, a virtual report list view over a RowStore.
// Positions in this interface are 1-based, as the rest of the program counts rows; positions
// outside 1..Count() are ignored, and read as an empty row.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/list_paint_throttle.h"
#include "clip/history_target.h"
#include "history/journal_codec.h"
#include "history/row_store.h"

namespace app {

inline constexpr wchar_t kListTooltip[] =
    L"Double-click item to remove it. Move bar to right and out of window to reveal full names.";

class HistoryListView : public clip::HistoryTarget {
 public:
  HistoryListView() = default;
  ~HistoryListView() override = default;
  HistoryListView(const HistoryListView&) = delete;
  HistoryListView& operator=(const HistoryListView&) = delete;

  // Creates the control as a child of parent, at the given pixel rectangle; a screen reader
  // announces it by name.
  void Create(HWND parent, int id, const wchar_t* name, RECT bounds, HFONT font);
  HWND hwnd() const { return hwnd_; }

  void AddColumnHeader(std::wstring_view text);
  void SetColumnWidth(int column, int pixels);

  // Appends a row at the end and returns its position.
  size_t AddItem(std::wstring_view text) override;
  // The same, keeping the text where it already is.
  size_t AddItem(win::TextBlock&& text) override;
  // Appends many rows with one update of the control: AddItemDeferred for each, then Refresh.
  void ReserveItems(size_t rows) { store_.Reserve(rows); }
  void AddItemDeferred(std::wstring_view text) { store_.Add(text); }
  void RemoveDeferred(size_t position) {
    if (IsRow(position)) store_.Remove(position - 1);
  }
  // Shows the rows added without the control.
  void Refresh() { throttle_.Refresh(); }
  void SetSubItem(size_t position, history::RowType type) override;
  size_t Count() const { return store_.Count(); }
  std::wstring_view ItemText(size_t position) const override {
    return IsRow(position) ? store_.Text(position - 1) : std::wstring_view();
  }
  history::RowType ItemType(size_t position) const {
    return IsRow(position) ? store_.Type(position - 1) : history::RowType::None;
  }
  // The selected row's position, or nothing when no row is selected.
  std::optional<size_t> SelectedItem() const;
  void Select(size_t position);
  void Remove(size_t position);
  void Clear();
  bool Contains(std::wstring_view text) const override { return store_.Contains(text); }
  const history::RowStore& Rows() const { return store_; }
  // For changes made without the control, such as a journal's replay; Refresh shows them.
  history::RowStore& Store() { return store_; }

  // Handles the control's notifications sent to its parent; true when handled, with the result.
  bool OnNotify(const NMHDR& header, LRESULT& result);
  std::function<void()> onDblClick;
  // A key pressed in the list, with Shift, Ctrl and Alt held as 1, 2 and 4 in shift.
  std::function<void(WORD key, int shift)> onKeyDown;
  // Told of every row added, removed or cleared through AddItem, Remove and Clear.
  std::function<void(history::JournalOp op, size_t position, std::wstring_view text)> onChange;

 private:
  bool IsRow(size_t position) const { return position >= 1 && position <= store_.Count(); }
  static LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR);
  LRESULT OnFindItem(const NMLVFINDITEMW& find) const;

  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;  // destroyed with the list's parent, like the list itself
  int columns_ = 0;
  history::RowStore store_;
  ListPaintThrottle throttle_;
};

}  // namespace app
