// Where the running program lives, and the one pass of the message loop that the design calls for.
#pragma once

#include <string>

namespace win {

// Full path of the running executable.
std::wstring ExecutablePath();

// The executable's folder, without a trailing backslash except at a drive root ("C:\").
std::wstring ProgramFolder();

// Dispatches every message already waiting for this thread, then returns; sooner when a message
// it dispatches sets *stopWhen.
void DoEvents(const bool* stopWhen = nullptr);

// Answers the messages other threads have sent and are waiting on, and nothing else: between the
// steps of a long piece of work, so that the window never seems hung.
void AnswerSentMessages();

}  // namespace win
