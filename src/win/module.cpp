#include "win/module.h"

#include <windows.h>

namespace win {

std::wstring ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring ProgramFolder() {
  std::wstring path = ExecutablePath();
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return path;
  path.resize(slash);
  if (path.size() == 2 && path[1] == L':') path += L'\\';
  return path;
}

namespace {

MessageFilter g_filter = nullptr;
void* g_filterContext = nullptr;

}  // namespace

void SetMessageFilter(MessageFilter filter, void* context) {
  g_filter = filter;
  g_filterContext = context;
}

void ClearMessageFilter(void* context) {
  if (g_filterContext == context) SetMessageFilter(nullptr, nullptr);
}

bool FilterMessage(MSG& msg) {
  return g_filter && g_filter(g_filterContext, msg);
}

void AnswerSentMessages() {
  MSG msg;
  (void)::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

bool WaitAnsweringSentMessages(void* handle, unsigned long timeoutMs) {
  const DWORD count = handle ? 1 : 0;
  for (const ULONGLONG until = ::GetTickCount64() + timeoutMs;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now < until ? static_cast<DWORD>(until - now) : 0;
    const DWORD woken = ::MsgWaitForMultipleObjects(count, &handle, FALSE, left, QS_SENDMESSAGE);
    if (woken != WAIT_OBJECT_0 + count) return handle && woken == WAIT_OBJECT_0;
    AnswerSentMessages();
    if (left == 0) return false;
  }
}

void DoEvents(const bool* stopWhen) {
  const auto stopped = [stopWhen] { return stopWhen && *stopWhen; };
  MSG msg;
  if (stopped()) {
    AnswerSentMessages();  // the window must not seem hung
    return;
  }
  // Looking first answers the messages other threads send, which may set the stop; only then is a
  // waiting message taken.
  while (!stopped() && ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && !stopped() &&
         ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit for the main loop.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (FilterMessage(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

}  // namespace win
