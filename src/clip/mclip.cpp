#include "clip/mclip.h"

#include <new>

#include "app/history_list_view.h"
#include "clip/clip_data.h"
#include "clip/clipboard.h"
#include "clip/save_log.h"
#include "win/module.h"

namespace mClip {

HWND NextViewerWnd = nullptr;
WNDPROC PrevWndProc = nullptr;
bool CaptureEnabled = false;
bool CaptureBusy = false;

namespace {

HWND g_form = nullptr;
app::HistoryListView* g_list = nullptr;
DWORD g_lastSequence = 0;
bool g_haveSequence = false;
// True while the recorder's loop runs; it records every change announced meanwhile itself.
bool g_recording = false;
// Set when newer content is announced while recording; the message passes then end at once.
bool g_changeWaiting = false;

constexpr UINT kChainTimeoutMs = 500;
constexpr DWORD kLongestWithoutFullPassMs = 500;
// A clipboard that another program keeps open is read again a little later, for about two seconds.
constexpr UINT_PTR kRetryTimer = 0x5043;
constexpr UINT kRetryDelayMs = 100;
constexpr int kMaxRetries = 20;
int g_retries = 0;
DWORD g_retrySequence = 0;

// A notification for content already handled is a re-announcement (two viewers that re-join after
// every change would otherwise hand it to each other for ever).
bool IsNewContent() {
  const DWORD seq = ::GetClipboardSequenceNumber();
  if (g_haveSequence && seq == g_lastSequence) return false;
  g_lastSequence = seq;
  g_haveSequence = true;
  g_retries = 0;
  return true;
}

// Both announcements of a change come here. One that comes while a change is recorded is not
// recorded where it comes, in a message pass of the recorder, but the pass ends at once and the
// recorder's loop takes it: in a burst the next copy could replace it before a long pass is over,
// and recording in the pass would nest one call in another for as long as the burst lasts.
void OnClipboardNotice() {
  if (!CaptureEnabled) return;
  if (CaptureBusy || g_recording) {
    if (g_haveSequence && ::GetClipboardSequenceNumber() != g_lastSequence) g_changeWaiting = true;
    return;
  }
  if (IsNewContent()) RecordClipboardChange();
}

void CALLBACK RetryRecording(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(hwnd, id);
  // Newer content brings its own notification; this retry was for content that is gone.
  if (::GetClipboardSequenceNumber() != g_retrySequence || !CaptureEnabled) return;
  if (CaptureBusy || g_recording) {
    (void)::SetTimer(hwnd, kRetryTimer, kRetryDelayMs, RetryRecording);
    return;
  }
  try {
    RecordClipboardChange();
  } catch (...) {
    // Nothing may unwind into the system's frames; the flags were put back on the way out.
  }
}

void ScheduleRetry() {
  if (!g_form || ++g_retries > kMaxRetries) return;
  g_retrySequence = ::GetClipboardSequenceNumber();
  (void)::SetTimer(g_form, kRetryTimer, kRetryDelayMs, RetryRecording);
}

// One change as read in one opening of the clipboard: its formats, its private marks and its text
// can never come from two different copies.
struct Capture {
  int mask = 0;
  bool fileList = false;
  bool readable = true;   // false: another program held the clipboard, or the text was not rendered
  bool passOver = false;  // marked private, or too large for the memory there is
  std::wstring text;
};

Capture CaptureChange() {
  Capture c;
  clip::ClipboardSession session(g_form);
  if (session.IsOpen()) {
    // Nothing can change the content while it is open: this is the change that is read. When it
    // is newer than the one announced, the announced one is gone and this one is the next.
    g_lastSequence = ::GetClipboardSequenceNumber();
    g_haveSequence = true;
  }
  c.mask = ReadFormatMask();
  c.fileList = c.mask == 0 && clip::GetFormat(clip::kFileList);
  if (c.mask != 1 && c.mask != 8 && c.mask != 9) return c;
  c.passOver = clip::ReadPrivateMark(session);
  if (c.passOver) return c;
  std::optional<std::wstring> text = clip::ReadText(session);  // no row rather than a wrong one
  c.readable = text.has_value();
  if (text) c.text = std::move(*text);
  return c;
}

// A row, its log line and its journal record, or none of them.
void AddEntry(std::wstring_view text, app::RowType label) {
  if (!g_list || IsAlreadyListed(text)) return;
  size_t row = 0;
  try {
    row = g_list->AddItem(text);
  } catch (const std::bad_alloc&) {
    return;  // no row, so no line either
  }
  g_list->SetSubItem(row, label);
  // The entry's text goes to the log from the row itself, in slices.
  (void)clip::WriteLogLine({g_list->ItemText(row), clip::kAddedPhrase, clip::NowText()});
}

}  // namespace

void SetRecordTarget(HWND form, app::HistoryListView* list) {
  g_form = form;
  g_list = list;
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
  int mask = 0;
  if (clip::GetFormat(clip::kText)) mask += 1;
  if (clip::GetFormat(clip::kBitmap)) mask += 2;
  if (clip::GetFormat(clip::kDib)) mask += 4;
  if (clip::GetFormat(clip::RichTextFormat())) mask += 8;
  return mask;
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
  do {
    RecordOneChange();
    // The loop takes the newest content itself: the announcements of what it has seen would pile
    // up in a quick burst and keep the window busy long after it.
    MSG msg;
    while (::PeekMessageW(&msg, g_form, WM_CLIPBOARDUPDATE, WM_CLIPBOARDUPDATE, PM_REMOVE)) {
    }
    // Passes end early while changes keep coming; now and then one runs whole, so that the window
    // still paints and takes input during a long burst.
    if (::GetTickCount() - lastFullPass >= kLongestWithoutFullPassMs) {
      win::DoEvents();
      lastFullPass = ::GetTickCount();
    }
  } while (CaptureEnabled && !CaptureBusy && IsNewContent());
}

void RecordOneChange() {
  CaptureBusy = true;
  g_changeWaiting = false;
  Capture change;
  try {
    change = CaptureChange();
  } catch (const std::bad_alloc&) {
    change = Capture{};  // the list, the log and the journal stay as they were
    change.mask = 1;
    change.passOver = true;
  }
  int mask = change.mask;
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
        ScheduleRetry();
      } else {
        AddEntry(change.text, mask == 1 ? app::RowType::Text : app::RowType::RichText);
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
  if (clip::SetText(clip::JoinPathLines(*names))) NoteOwnClipboardWrite();
}

void NoteOwnClipboardWrite() {
  g_lastSequence = ::GetClipboardSequenceNumber();
  g_haveSequence = true;
}

}  // namespace mClip
