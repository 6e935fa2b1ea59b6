#include "clip/mclip.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <new>

#include "clip/capture.h"
#include "clip/clip_data.h"
#include "clip/clipboard.h"
#include "clip/history_target.h"
#include "clip/save_log.h"
#include "win/module.h"

namespace mClip {

HWND NextViewerWnd = nullptr;
WNDPROC PrevWndProc = nullptr;
bool CaptureEnabled = false;
bool CaptureBusy = false;

namespace {

HWND g_form = nullptr;
clip::HistoryTarget* g_list = nullptr;
clip::LogLocations g_log;
DWORD g_lastSequence = 0;  // the newest content handled
bool g_haveSequence = false;
// True while the recorder's loop runs; it records every change announced meanwhile itself.
bool g_recording = false;
// Set when newer content is announced while recording; the message passes then end at once.
bool g_changeWaiting = false;

// Every change is read at once by a thread of its own, and waits here for its turn.
std::unique_ptr<clip::CaptureThread> g_capture;
std::deque<clip::CapturedChange> g_pending;
// Content written by the program itself, or announced while capture was off or busy: never recorded.
std::deque<DWORD> g_passOver;
constexpr size_t kPassOverKept = 64;
const UINT kChangeCaptured = ::RegisterWindowMessageW(L"PellucidorChangeCaptured");

constexpr UINT kChainTimeoutMs = 500;
constexpr DWORD kLongestWithoutFullPassMs = 500;
// Without the capture thread, a clipboard that another program keeps open is read again a little
// later, for about two seconds.
constexpr UINT_PTR kRetryTimer = 0x5043;
constexpr UINT kRetryDelayMs = 100;
constexpr int kMaxRetries = 20;
int g_retries = 0;
bool g_retryDue = false;

bool IsNewer(DWORD sequence) {
  return !g_haveSequence || static_cast<LONG>(sequence - g_lastSequence) > 0;
}

void Handled(DWORD sequence) {
  g_lastSequence = sequence;
  g_haveSequence = true;
}

void PassOver(DWORD sequence) {
  g_passOver.push_back(sequence);
  if (g_passOver.size() > kPassOverKept) g_passOver.pop_front();
}

bool IsPassedOver(DWORD sequence) {
  return std::find(g_passOver.begin(), g_passOver.end(), sequence) != g_passOver.end();
}

bool CaptureThreadRuns() {
  return g_capture && g_capture->Running();
}

void CALLBACK RetryRecording(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(hwnd, id);
  if (!CaptureEnabled) return;
  if (CaptureBusy || g_recording) {
    (void)::SetTimer(hwnd, kRetryTimer, kRetryDelayMs, RetryRecording);
    return;
  }
  g_retryDue = true;
  try {
    RecordClipboardChange();
  } catch (...) {
    // Nothing may unwind into the system's frames; the flags were put back on the way out.
  }
}

void ScheduleRetry() {
  if (!g_form || ++g_retries > kMaxRetries) return;
  (void)::SetTimer(g_form, kRetryTimer, kRetryDelayMs, RetryRecording);
}

// The next change to record, oldest first; false when every change seen so far is handled.
bool NextChange(clip::CapturedChange& change) {
  if (CaptureThreadRuns()) {
    for (clip::CapturedChange& c : g_capture->Take()) g_pending.push_back(std::move(c));
    while (!g_pending.empty()) {
      change = std::move(g_pending.front());
      g_pending.pop_front();
      if (!IsNewer(change.sequence) || IsPassedOver(change.sequence)) continue;
      Handled(change.sequence);
      return true;
    }
    return false;
  }
  // Read here, on the window's thread.
  const DWORD now = ::GetClipboardSequenceNumber();
  if (!IsNewer(now) && !g_retryDue) return false;
  if (IsNewer(now)) g_retries = 0;
  g_retryDue = false;
  change = clip::ReadChange(g_form);
  Handled(change.sequence);
  if (IsPassedOver(change.sequence)) return false;
  return true;
}

bool ChangeWaiting() {
  return ::GetClipboardSequenceNumber() != g_lastSequence || !g_pending.empty();
}

// Every announcement of a change comes here: the chain's, the format listener's and the capture
// thread's. One that comes while a change is recorded is not recorded where it comes, in a message
// pass of the recorder, but the pass ends at once and the recorder's loop takes it: recording in
// the pass would nest one call in another for as long as a burst lasts.
void OnClipboardNotice() {
  if (!CaptureEnabled || (CaptureBusy && !g_recording)) {
    // The program's own write, or a busy time: this content is never recorded.
    PassOver(::GetClipboardSequenceNumber());
    return;
  }
  if (CaptureBusy || g_recording) {
    if (ChangeWaiting()) g_changeWaiting = true;
    return;
  }
  RecordClipboardChange();
}

// A row, its log line and its journal record, or none of them.
void AddEntry(clip::CapturedChange& change, history::RowType label) {
  if (!g_list || IsAlreadyListed(change.text.view())) return;
  size_t row = 0;
  try {
    row = g_list->AddItem(std::move(change.text));  // the row keeps the text read: no second copy
  } catch (const std::bad_alloc&) {
    return;  // no row, so no line either
  }
  g_list->SetSubItem(row, label);
  win::AnswerSentMessages();
  // The entry's text goes to the log from the row itself, in slices, with the time of the change.
  (void)clip::WriteLogLine({g_list->ItemText(row), clip::kAddedPhrase, clip::LogTimeText(change.time)},
                           g_log);
}

}  // namespace

void SetRecordTarget(HWND form, clip::HistoryTarget* list, clip::LogLocations log) {
  g_log = std::move(log);
  g_capture.reset();
  g_pending.clear();
  g_form = form;
  g_list = list;
  if (form && list) g_capture = std::make_unique<clip::CaptureThread>(form, kChangeCaptured);
}

void HookWindow(HWND form) {
  const auto current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(form, GWLP_WNDPROC));
  if (current == ClipboardWndProc) return;  // installed already: PrevWndProc must never be ourselves
  PrevWndProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClipboardWndProc)));
}

void UnhookWindow(HWND form) {
  (void)::SetWindowLongPtrW(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PrevWndProc));
}

void SendToNextViewer(HWND self, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!NextViewerWnd || NextViewerWnd == self) return;
  DWORD_PTR ignored = 0;
  (void)::SendMessageTimeoutW(NextViewerWnd, msg, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                              kChainTimeoutMs, &ignored);
}

LRESULT CALLBACK ClipboardWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = ::CallWindowProcW(PrevWndProc, hWnd, msg, wParam, lParam);
  try {
    OnChainMessage(hWnd, msg, wParam, lParam);
  } catch (...) {
    // Nothing may unwind into the system's frames; the recorder put its flags back on the way out.
  }
  return result;
}

void OnChainMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CHANGECBCHAIN:
      if (reinterpret_cast<HWND>(wParam) == NextViewerWnd) NextViewerWnd = reinterpret_cast<HWND>(lParam);
      SendToNextViewer(hWnd, msg, wParam, lParam);
      break;
    case WM_DRAWCLIPBOARD:
      OnClipboardNotice();
      SendToNextViewer(hWnd, msg, wParam, lParam);  // read only now: recording may have re-joined
      break;
    case WM_CLIPBOARDUPDATE:
      // The same change told a second way, which no other program can hold back: a viewer that
      // has put itself in front of us and passes nothing on cannot stop the recording.
      OnClipboardNotice();
      break;
    default:
      if (msg == kChangeCaptured) OnClipboardNotice();
      break;
  }
}

void RejoinViewerChain() {
  CaptureBusy = true;
  (void)::ChangeClipboardChain(g_form, NextViewerWnd);
  UnhookWindow(g_form);
  HookWindow(g_form);
  NextViewerWnd = ::SetClipboardViewer(g_form);
  win::DoEvents(&g_changeWaiting);
}

int ReadFormatMask() {
  return clip::FormatMask(clip::Formats::Available());
}

void RecordClipboardChange() {
  // A change whose notification came while this one was being recorded was passed over; it is
  // recorded here, or the last of a quick burst would be lost for good.
  const bool outer = !g_recording;
  g_recording = true;
  // However a pass ends, the flags are left as they were found, or recording would stop for good.
  struct Restore {
    bool outer;
    ~Restore() {
      if (!outer) return;
      g_recording = false;
      CaptureBusy = false;
    }
  } restore{outer};
  DWORD lastFullPass = ::GetTickCount();
  clip::CapturedChange change;
  while (CaptureEnabled && !CaptureBusy && NextChange(change)) {
    RecordOneChange(change);
    // The loop takes every change itself: the announcements of what it has seen would pile up in
    // a quick burst and keep the window busy long after it.
    MSG msg;
    while (::PeekMessageW(&msg, g_form, WM_CLIPBOARDUPDATE, WM_CLIPBOARDUPDATE, PM_REMOVE) ||
           ::PeekMessageW(&msg, g_form, kChangeCaptured, kChangeCaptured, PM_REMOVE)) {
    }
    // Passes end early while changes keep coming; now and then one runs whole, so that the window
    // still paints and takes input during a long burst.
    if (::GetTickCount() - lastFullPass >= kLongestWithoutFullPassMs) {
      win::DoEvents();
      lastFullPass = ::GetTickCount();
    }
  }
}

void RecordPendingChanges() {
  if (CaptureEnabled && !CaptureBusy && !g_recording) RecordClipboardChange();
}

void RecordOneChange(clip::CapturedChange& change) {
  CaptureBusy = true;
  g_changeWaiting = false;
  int mask = change.formatMask;
  if (change.fileList) {
    FileListToText();
    mask = 15;
  }
  switch (mask) {
    case 1:
    case 8:
    case 9:
      if (change.passOver) break;
      if (!change.readable) {
        ScheduleRetry();  // only without the capture thread, which reads again itself
      } else {
        AddEntry(change, mask == 1 ? history::RowType::Text : history::RowType::RichText);
        change.text = {};  // a duplicate's text goes at once
      }
      break;
    case 2:
    case 4:
    case 6:
    case 15:
      break;
    default:
      CaptureBusy = false;
      return;
  }
  RejoinViewerChain();
  CaptureBusy = false;
  win::DoEvents(&g_changeWaiting);
}

bool IsAlreadyListed(std::wstring_view text) {
  return g_list && g_list->Contains(text);
}

void FileListToText() {
  const auto names = clip::GetFileNames();
  if (!names) return;  // nothing readable: leave the clipboard as it is
  if (clip::SetText(clip::JoinPathLines(*names), g_form)) NoteOwnClipboardWrite();
}

DWORD HandledSequence() {
  return g_lastSequence;
}

void NoteOwnClipboardWrite() {
  PassOver(::GetClipboardSequenceNumber());
}

}  // namespace mClip
