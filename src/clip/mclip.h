// The clipboard monitor: membership of the main window in the clipboard-viewer chain through a
// replaced window procedure, the capture flags, and the recording of each clipboard change.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "clip/save_log.h"

namespace clip {
struct CapturedChange;
class HistoryTarget;
}  // namespace clip

namespace mClip {

// One set for the process and its one main window.
extern HWND NextViewerWnd;
extern WNDPROC PrevWndProc;
extern bool CaptureEnabled;
extern bool CaptureBusy;

// Which window is hooked, which list the recorder appends to and where it logs.
void SetRecordTarget(HWND form, clip::HistoryTarget* list, clip::LogLocations log = {});

void HookWindow(HWND form);
void UnhookWindow(HWND form);
LRESULT CALLBACK ClipboardWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The chain messages' handling, after the window's own procedure has seen them.
void OnChainMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
void RejoinViewerChain();

// Sum of one bit per format present: 1 text, 2 bitmap, 4 device-independent bitmap, 8 rich text.
int ReadFormatMask();
// Records every change read since the last call, in order.
void RecordClipboardChange();
// The same from outside the recorder (before closing), unless a recording is under way.
void RecordPendingChanges();
// One pass of the recording, for one change as it was read.
void RecordOneChange(clip::CapturedChange& change);
bool IsAlreadyListed(std::wstring_view text);
void FileListToText();

// Passes a chain message on to NextViewerWnd, never to the window itself, and never waits on a
// next viewer that has stopped answering.
void SendToNextViewer(HWND self, UINT msg, WPARAM wParam, LPARAM lParam);

// The program's own clipboard write: its change is not new content for the recorder.
void NoteOwnClipboardWrite();

// The clipboard's sequence number of the newest change recorded or passed over.
DWORD HandledSequence();

}  // namespace mClip
