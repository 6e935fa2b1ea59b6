#include "app/find_in_list.h"

#include <chrono>

#include "win/module.h"
#include "win/report.h"

namespace app {
namespace {

// Well inside the 50 ms after which a window seems slow; the window answers between slices.
constexpr auto kSlice = std::chrono::milliseconds(25);
constexpr size_t kStepChars = size_t{1} << 19;  // well under a millisecond of reading
// On the main window, whose other timers belong to its controls' windows.
constexpr UINT_PTR kSliceTimer = 0x4649;

}  // namespace

FindInList::FindInList(HWND owner, HistoryListView& list)
    : owner_(owner),
      list_(list),
      dialog_([this](const FindRequest& r) { Search(r.text, r.matchCase, r.down); },
              [this](bool wasActive) { Dialog_Closed(wasActive); }) {
  win::SetMessageFilter(
      [](void* self, MSG& msg) {
        try {
          return static_cast<FindInList*>(self)->PreTranslate(msg);
        } catch (...) {
          win::ReportCaught(L"find");
          return true;  // a key of ours that could not be served: no memory for the search
        }
      },
      this);
}

FindInList::~FindInList() {
  win::ClearMessageFilter(this);
  StopSlices();
}

bool FindInList::PreTranslate(MSG& msg) {
  const auto within = [&msg](HWND top) { return top && (msg.hwnd == top || ::IsChild(top, msg.hwnd)); };
  const HWND dialog = dialog_.hwnd();
  if (msg.message == WM_KEYDOWN && (within(owner_) || within(dialog))) {
    const bool ctrl = ::GetKeyState(VK_CONTROL) < 0, shift = ::GetKeyState(VK_SHIFT) < 0;
    if (msg.wParam == 'F' && ctrl && !shift) {
      OpenDialog();
      return true;
    }
    if (msg.wParam == VK_F3 && !ctrl) {
      SearchAgain(shift);
      return true;
    }
  }
  return dialog && ::IsDialogMessageW(dialog, &msg);
}

bool FindInList::OnMessage(UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_TIMER && wParam == kSliceTimer) {
    RunSlice();
    return true;
  }
  // Minimised to the tray and back: the dialog goes and comes with the window.
  if (const HWND dialog = dialog_.hwnd(); msg == WM_WINDOWPOSCHANGED && dialog) {
    const bool shown = ::IsWindowVisible(owner_) && !::IsIconic(owner_);
    if ((::IsWindowVisible(dialog) != FALSE) != shown) ::ShowWindow(dialog, shown ? SW_SHOWNA : SW_HIDE);
  }
  return false;
}

void FindInList::OpenDialog() {
  if (dialog_.hwnd()) {
    ::SetActiveWindow(dialog_.hwnd());
    return;
  }
  const HWND focus = ::GetFocus();
  focusBefore_ = focus && ::IsChild(owner_, focus) ? focus : nullptr;
  focusListAfter_ = false;
  dialog_.Open(owner_, {lastText_, lastMatchCase_, lastDown_});
}

void FindInList::Dialog_Closed(bool wasActive) {
  // Back to where the keyboard was, or to the row found, so that Enter or Delete acts on it.
  const HWND to = focusListAfter_ ? list_.hwnd() : focusBefore_;
  if (wasActive && to && ::IsWindow(to) && ::IsWindowVisible(to)) ::SetFocus(to);
}

void FindInList::Search(std::wstring_view text, bool matchCase, bool down) {
  StopSlices();
  running_.reset();
  lastText_ = text;
  lastMatchCase_ = matchCase;
  lastDown_ = down;
  searched_ = true;
  const size_t count = list_.Count();
  const auto selected = list_.SelectedItem();  // 1-based, as the list counts
  size_t first = down ? 0 : count - 1;
  if (selected) first = down ? *selected % count : (*selected + count - 2) % count;
  running_.emplace(list_.Rows(), history::TextFinder(text, !matchCase), first, down);
  RunSlice();
}

void FindInList::SearchAgain(bool back) {
  if (!searched_) {
    OpenDialog();
    return;
  }
  Search(std::wstring(lastText_), lastMatchCase_, lastDown_ != back);
}

void FindInList::RunSlice() {
  if (!running_) return StopSlices();
  const auto until = std::chrono::steady_clock::now() + kSlice;
  history::RowSearch::State state;
  while ((state = running_->Step(kStepChars)) == history::RowSearch::State::Running) {
    if (std::chrono::steady_clock::now() >= until) {
      // The timer's message comes only when no other waits: input and painting go first.
      if (!slicing_) slicing_ = ::SetTimer(owner_, kSliceTimer, USER_TIMER_MINIMUM, nullptr) != 0;
      if (slicing_) return;
    }
  }
  const size_t found = running_->Found();
  running_.reset();
  StopSlices();
  if (state == history::RowSearch::State::Found) {
    ShowFound(found + 1);
  } else if (state == history::RowSearch::State::NotFound) {
    (void)::MessageBeep(MB_OK);
  } else {
    // Rows removed meanwhile: the same search again, from the selection as the list now has it, so
    // that it still ends in a row or a beep.
    Search(std::wstring(lastText_), lastMatchCase_, lastDown_);
  }
}

void FindInList::ShowFound(size_t position) {
  list_.Select(position);
  (void)ListView_EnsureVisible(list_.hwnd(), static_cast<int>(position - 1), FALSE);
  if (::GetActiveWindow() == owner_) {
    ::SetFocus(list_.hwnd());
  } else if (dialog_.hwnd()) {
    focusListAfter_ = true;
  }
}

void FindInList::StopSlices() {
  if (slicing_) ::KillTimer(owner_, kSliceTimer);
  slicing_ = false;
}

}  // namespace app
