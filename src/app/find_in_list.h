// Finding an entry by any part of its text: the Find dialog, owned by the main window, and F3 /
// Shift+F3 to find again without it. A search too long for one go runs in slices between the
// window's messages.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "app/find_dialog.h"
#include "app/history_list_view.h"
#include "history/text_search.h"

namespace app {

class FindInList {
 public:
  FindInList(HWND owner, HistoryListView& list);
  ~FindInList();
  FindInList(const FindInList&) = delete;
  FindInList& operator=(const FindInList&) = delete;

  // Before a message is dispatched: Ctrl+F, F3 and Shift+F3 anywhere in the owner or the dialog,
  // and the open dialog's own keys. True when taken.
  bool PreTranslate(MSG& msg);
  // The slices' timer (true: handled), and the owner shown or hidden.
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  void OpenDialog();
  // The next row holding text after the selected one (before it, going up), round past the end.
  void Search(std::wstring_view text, bool matchCase, bool down);
  // The last search again, the other way round when back; with none yet, the dialog.
  void SearchAgain(bool back);
  HWND dialog() const { return dialog_.hwnd(); }
  bool Searching() const { return running_.has_value(); }

 private:
  void Dialog_Closed(bool wasActive);
  void RunSlice();
  void ShowFound(size_t position);
  void StopSlices();

  HWND owner_;
  HistoryListView& list_;
  FindDialog dialog_;
  HWND focusBefore_ = nullptr;   // given the keyboard back when the dialog closes
  bool focusListAfter_ = false;  // unless a row was found meanwhile: then the list has it
  bool searched_ = false;
  std::wstring lastText_;
  bool lastMatchCase_ = false, lastDown_ = true;
  std::optional<history::RowSearch> running_;
  bool slicing_ = false;
};

}  // namespace app
