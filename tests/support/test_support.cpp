#include "support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <thread>

namespace testsupport {
namespace {

// Exactly bytes long, even 0: readers must not trust the platform to end a block.
HGLOBAL Block(std::string_view bytes) {
  HGLOBAL h = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (h && !bytes.empty()) {
    std::memcpy(::GlobalLock(h), bytes.data(), bytes.size());
    ::GlobalUnlock(h);
  }
  return h;
}

}  // namespace

void Xdotool(HWND window, const std::string& commands) {
  // Wine keeps the id of a window's X window among its properties. Focused by a run of its own: in
  // the same run, keys and clicks would go to that window as sent events, which Wine may pass over.
  const auto x = reinterpret_cast<uintptr_t>(::GetPropW(window, L"__wine_x11_whole_window"));
  (void)StartProcess(L"Z:\\bin\\sh -c \"(/usr/bin/xdotool windowfocus --sync " + std::to_wstring(x) +
                     L"; /usr/bin/xdotool " + win::BytesToWide(commands, CP_UTF8) + L") >/dev/null 2>&1\"");
}

bool StartProcess(std::wstring commandLine, win::UniqueHandle* process, DWORD* pid) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  // Now and then Wine loses a new process before any of its code has run, and says only
  // ERROR_INTERNAL_ERROR; as a user would, start it again.
  for (int attempt = 1;; ++attempt) {
    if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      break;
    const DWORD error = ::GetLastError();
    std::printf("not started (error %lu): %ls\n", error, commandLine.c_str());
    if (error != ERROR_INTERNAL_ERROR || attempt == 3) return false;
  }
  // A Linux program Wine starts has no process to hand back: the process handle is null and the
  // rest holds whatever Wine left there, never a handle to close (it may be one of ours).
  if (!pi.hProcess) return true;
  win::UniqueHandle thread(pi.hThread), owned(pi.hProcess);
  if (process) *process = std::move(owned);
  if (pid) *pid = pi.dwProcessId;
  return true;
}

bool Copy(const std::vector<Item>& items, DWORD holdMs) {
  // The clipboard's owner, as any program's copy has one: emptied without one, Windows refuses the
  // data put on it. One for each thread, and never the main window, whose copies are its own.
  thread_local const win::UniqueHwnd owner(
      ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
  {
    std::optional<clip::ClipboardSession> open;
    // As patient as a user: the window's reader may hold the clipboard a moment, often, on a busy machine.
    for (const ULONGLONG end = ::GetTickCount64() + 10000;
         !open.emplace(owner.get()).IsOpen() && ::GetTickCount64() < end;) {
    }
    if (!open->IsOpen() || !::EmptyClipboard()) return false;
    for (const Item& item : items) {
      bool put = false;
      if (item.format == L"bitmap") {
        HDC screen = ::GetDC(nullptr);
        put = ::SetClipboardData(CF_BITMAP, ::CreateCompatibleBitmap(screen, 4, 4)) != nullptr;
        ::ReleaseDC(nullptr, screen);
      } else {
        win::UniqueHglobal block(Block(item.bytes));
        put = ::SetClipboardData(std::iswdigit(item.format[0])
                                     ? std::wcstoul(item.format.c_str(), nullptr, 10)
                                     : ::RegisterClipboardFormatW(item.format.c_str()),
                                 block.get()) != nullptr;
        if (put) (void)block.release();  // the clipboard's now
      }
      if (!put) return false;
    }
  }
  if (holdMs) {
    const clip::ClipboardSession hold;
    ::Sleep(holdMs);
  }
  return true;
}

bool RunBurst(unsigned count, unsigned spacingMs, unsigned first, bool everyOtherPrivate) {
  for (unsigned i = first; i < first + count; ++i) {
    const bool secret = everyOtherPrivate && (i - first) % 2 == 1;
    std::vector<Item> items{Text((secret ? L"secret " : L"burst ") + std::to_wstring(i))};
    if (secret) items.push_back({L"Clipboard Viewer Ignore", std::string(1, '\0')});
    if (!Copy(items)) return false;
    win::DoEvents();  // what readers ask the copy's owner, answered between copies as a program does
    if (spacingMs) ::Sleep(spacingMs);
  }
  return true;
}

TempFolder::TempFolder(const std::wstring& base) {
  static int counter = 0;
  const auto root = base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
  path_ = (root / (L"pt" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter)))
              .wstring();
  std::error_code error;
  std::filesystem::remove_all(path_, error);  // left by an earlier run of the same number
  std::filesystem::create_directories(path_, error);
}
std::optional<std::wstring> SmallDisk() {
  const char* unix = std::getenv("PELLUCIDOR_SMALL_DISK");  // Wine's drive Z: is the Unix root
  const auto path =
      std::filesystem::path(L"Z:" + win::BytesToWide(unix ? unix : "", CP_UTF8)).make_preferred();
  std::error_code error;
  return unix && *unix && std::filesystem::is_directory(path, error) ? std::optional(path.wstring())
                                                                     : std::nullopt;
}

std::wstring FillDisk(const std::wstring& folder) {
  const std::wstring path = folder + L"\\filler.bin";
  win::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  const std::string chunk(64 * 1024, 'f');
  for (DWORD size = static_cast<DWORD>(chunk.size()), wrote = 0; f && size > 0; size /= 2) {
    while (::WriteFile(f.get(), chunk.data(), size, &wrote, nullptr) && wrote == size) {
    }
  }
  return path;
}

Texts AddedInLog(const std::vector<std::string>& lines) {
  Texts added;
  for (const std::string& line : lines) {
    const std::wstring text = win::BytesToWide(line, CP_UTF8);
    const size_t at = text.find(clip::kAddedPhrase);
    if (at != text.npos) added.push_back(text.substr(0, at));
  }
  return added;
}

bool CopyFromAnotherThread(const std::vector<Item>& items) {
  bool copied = false;
  std::thread([&] { copied = Copy(items); }).join();
  return copied;
}

bool WaitUntilRead() {
  for (const ULONGLONG end = ::GetTickCount64() + 60000; ::GetTickCount64() < end; ::Sleep(1))
    if (mClip::ReadSequence() == ::GetClipboardSequenceNumber()) return true;
  return false;
}

std::vector<std::string> LogLines(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  std::vector<std::string> lines;
  for (size_t start = 0, crlf; (crlf = bytes.find("\r\n", start)) != std::string::npos; start = crlf + 2)
    lines.push_back(bytes.substr(start, crlf - start));
  return lines;
}

}  // namespace testsupport
