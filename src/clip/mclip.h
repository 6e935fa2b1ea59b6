// The clipboard monitor: membership of the main window in the clipboard-viewer chain through a
// replaced window procedure, the capture flags, and the door to the recorder of clipboard changes.
#pragma once

#include <windows.h>

#include <string_view>

#include "clip/save_log.h"

namespace history {
class History;
}  // namespace history

namespace mClip {

// One set for the process and its one main window.
extern HWND NextViewerWnd;
extern WNDPROC PrevWndProc;
extern bool CaptureEnabled;
extern bool CaptureBusy;

// Recording into list, of the changes announced to form, logged to log; from now on every change
// is read as it comes.
void StartRecording(HWND form, history::History* list, clip::LogLocations log = {});
// Stops reading and records, without a message pass, every change read until now; nothing is
// recorded afterwards.
void StopRecording() noexcept;

// Installs ClipboardWndProc on the form. Re-joining the chain installs it again: a subclass put on
// the form after it would be dropped by the next change.
void HookWindow(HWND form);
void UnhookWindow(HWND form);
LRESULT CALLBACK ClipboardWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The chain messages' handling, after the window's own procedure has seen them.
void OnChainMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
void RejoinViewerChain();

// Records every change read since the last call, in order, each followed by its re-join and
// message pass.
void RecordClipboardChange();
// Records every change read until now without any message pass: before the list is cleared or a
// button logs its line, so that the rows and the log keep the order of the copies.
void RecordPendingChanges();
// Paused, no change is read or recorded, a file list included, while the window stays in the chain
// and passes every notification on; what was read before is recorded first. Resuming records only
// what is copied after it. Every start records.
void PauseRecording();
void ResumeRecording();
bool RecordingPaused();
bool IsAlreadyListed(std::wstring_view text);
// Replaces the file list of the change with that sequence number by the text of its paths, unless
// the clipboard holds newer content by now. True when it was replaced. Like every write of the
// program's, made with its window as the clipboard's owner: never recorded itself.
bool FileListToText(DWORD sequence);

// True when the first viewer of the chain is another window that does not answer.
bool FrontViewerHangs(HWND self);
// Takes the window out of the chain, before NextViewerWnd, which is cleared. Leaving waits for
// the first viewer's answer: a first viewer that hangs is waited for half a second at most, and
// repairs the chain once it answers.
void LeaveViewerChain(HWND self);
// Passes a chain message on to NextViewerWnd, never to the window itself; a next viewer that has
// stopped answering is waited for half a second at most.
void SendToNextViewer(HWND self, UINT msg, WPARAM wParam, LPARAM lParam);

// The clipboard's sequence number of the newest change recorded or passed over, and of the newest
// read (and perhaps not yet recorded).
DWORD HandledSequence();
DWORD ReadSequence();

}  // namespace mClip
