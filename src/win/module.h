// Where the running program lives, and the one pass of the message loop that the design calls for.
#pragma once

#include <string>

struct tagMSG;

namespace win {

// Full path of the running executable.
std::wstring ExecutablePath();

// The executable's folder, without a trailing backslash except at a drive root ("C:\").
std::wstring ProgramFolder();

// Dispatches every message already waiting for this thread, then returns; sooner when a message
// it dispatches sets *stopWhen.
void DoEvents(const bool* stopWhen = nullptr);

// What sees each message before it is dispatched, in the message loop and in DoEvents alike: a
// modeless dialog's keys, the shortcuts of a whole window. One at a time, given context back; true
// when it took the message, which then goes no further.
using MessageFilter = bool (*)(void* context, tagMSG& msg);
void SetMessageFilter(MessageFilter filter, void* context);
// Only when the filter set is context's own.
void ClearMessageFilter(void* context);
bool FilterMessage(tagMSG& msg);

// Answers the messages other threads have sent and are waiting on, and nothing else: between the
// steps of a long piece of work, so that the window never seems hung.
void AnswerSentMessages();
// Waits up to timeoutMs for the handle (none: only for the time) while answering sent messages;
// true once the handle is signalled.
bool WaitAnsweringSentMessages(void* handle, unsigned long timeoutMs);

}  // namespace win
