#include "clip/mclip.h"

#include <memory>

#include "clip/clipboard.h"
#include "clip/recorder.h"
#include "win/module.h"
#include "win/report.h"
#include "win/unique.h"

namespace mClip {

HWND NextViewerWnd = nullptr;
WNDPROC PrevWndProc = nullptr;
bool CaptureEnabled = false;
bool CaptureBusy = false;

namespace {

clip::Recorder g_recorder;
constexpr UINT kChainTimeoutMs = 500;
constexpr UINT kFrontViewerTimeoutMs = 100;

struct ChainLink {
  HWND self, next;
};

DWORD WINAPI LeaveChain(void* param) {
  const std::unique_ptr<ChainLink> link(static_cast<ChainLink*>(param));
  (void)::ChangeClipboardChain(link->self, link->next);
  return 0;
}

}  // namespace

void StartRecording(HWND form, history::History* list, clip::LogLocations log) {
  g_recorder.Start(form, list, std::move(log));
}

void StopRecording() noexcept {
  g_recorder.Stop();
}

void HookWindow(HWND form) {
  const auto current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(form, GWLP_WNDPROC));
  if (current == ClipboardWndProc) return;  // installed already: PrevWndProc must never be ourselves
  PrevWndProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClipboardWndProc)));
}

void UnhookWindow(HWND form) {
  if (!PrevWndProc) return;  // never hooked: nothing to put back
  (void)::SetWindowLongPtrW(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PrevWndProc));
}

bool FrontViewerHangs(HWND self) {
  const HWND front = ::GetClipboardViewer();
  if (!front || front == self) return false;
  // Leaving the chain sends the first viewer a message and waits for its answer: one that does not
  // answer would hold the window for as long as it hangs. The window re-joins at a later change.
  DWORD_PTR ignored = 0;
  return ::IsHungAppWindow(front) ||
         !::SendMessageTimeoutW(front, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kFrontViewerTimeoutMs,
                                &ignored);
}

void LeaveViewerChain(HWND self) {
  // On a thread of its own, which a hung first viewer holds instead of the window; the message it
  // sends stays waiting for that viewer, also once the program has ended.
  auto link = std::make_unique<ChainLink>(ChainLink{self, NextViewerWnd});
  win::UniqueHandle thread(::CreateThread(nullptr, 0, LeaveChain, link.get(), 0, nullptr));
  if (thread) {
    (void)link.release();  // the thread's now
    // The first viewer passes the change down the chain, which may pass through this window.
    (void)win::WaitAnsweringSentMessages(thread.get(), kChainTimeoutMs);
  } else if (!FrontViewerHangs(self)) {
    (void)::ChangeClipboardChain(self, link->next);
  }
  NextViewerWnd = nullptr;
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
    win::ReportCaught(L"clipboard notification");
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
      if (!CaptureBusy && CaptureEnabled) RecordClipboardChange();
      SendToNextViewer(hWnd, msg, wParam, lParam);  // read only now: recording may have re-joined
      break;
    case WM_CLIPBOARDUPDATE:
      g_recorder.OnNotice();
      break;
    case WM_TIMER:
      if (wParam == clip::Recorder::kRetryTimer) g_recorder.OnRetryTimer();
      break;
    default:
      if (msg == clip::ChangeCapturedMessage()) g_recorder.OnNotice();
      break;
  }
}

void RejoinViewerChain() {
  const HWND form = g_recorder.Form();
  if (!form || FrontViewerHangs(form)) return;
  CaptureBusy = true;
  (void)::ChangeClipboardChain(form, NextViewerWnd);
  // The chain's own messages are answered in there: the window may have closed meanwhile.
  if (g_recorder.Form() != form) return;
  UnhookWindow(form);
  HookWindow(form);
  NextViewerWnd = ::SetClipboardViewer(form);
  if (g_recorder.Form() != form) {
    (void)::ChangeClipboardChain(form, NextViewerWnd);
    NextViewerWnd = nullptr;
    return;
  }
  win::DoEvents(&g_recorder.ChangeWaiting());
}

void RecordClipboardChange() {
  g_recorder.OnNotice();
}

void RecordPendingChanges() {
  g_recorder.RecordRead();
}

void PauseRecording() {
  g_recorder.Pause();
}

void ResumeRecording() {
  g_recorder.Resume();
}

bool RecordingPaused() {
  return g_recorder.Paused();
}

bool IsAlreadyListed(std::wstring_view text) {
  return g_recorder.IsListed(text);
}

bool FileListToText(DWORD sequence) {
  return clip::ReplaceFileListWithText(sequence, g_recorder.Form());
}

DWORD HandledSequence() {
  return g_recorder.Handled();
}

DWORD ReadSequence() {
  return g_recorder.Read();
}

}  // namespace mClip
