#include "support/test_support.h"

#include <gtest/gtest.h>

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "win/text.h"
#include "win/unique.h"

namespace testsupport {
namespace {

std::wstring g_exe;

std::wstring FromHex(std::wstring_view hex) {
  std::wstring out;
  for (size_t i = 0; i + 4 <= hex.size(); i += 4) {
    out += static_cast<wchar_t>(std::wcstoul(std::wstring(hex.substr(i, 4)).c_str(), nullptr, 16));
  }
  return out;
}

std::string BytesFromHex(std::wstring_view hex) {
  std::string out;
  for (size_t i = 0; i + 2 <= hex.size(); i += 2) {
    out += static_cast<char>(std::wcstoul(std::wstring(hex.substr(i, 2)).c_str(), nullptr, 16));
  }
  return out;
}

HGLOBAL Block(const void* data, size_t bytes) {
  HGLOBAL h = ::GlobalAlloc(GMEM_MOVEABLE, bytes ? bytes : 1);
  if (h && bytes) {
    std::memcpy(::GlobalLock(h), data, bytes);
    ::GlobalUnlock(h);
  }
  return h;
}

HGLOBAL TextBlock(const std::wstring& text) {
  return Block(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

HGLOBAL FileListBlock(const std::wstring& joined) {
  std::wstring names = joined;
  for (auto& c : names) c = c == L'|' ? L'\0' : c;
  names += L'\0';
  names += L'\0';
  DROPFILES df{};
  df.pFiles = sizeof(DROPFILES);
  df.fWide = TRUE;
  std::string bytes(reinterpret_cast<const char*>(&df), sizeof(df));
  bytes.append(reinterpret_cast<const char*>(names.data()), names.size() * sizeof(wchar_t));
  return Block(bytes.data(), bytes.size());
}

HBITMAP SmallBitmap() {
  HDC screen = ::GetDC(nullptr);
  HBITMAP bmp = ::CreateCompatibleBitmap(screen, 4, 4);
  ::ReleaseDC(nullptr, screen);
  return bmp;
}

HGLOBAL SmallDib() {
  struct {
    BITMAPINFOHEADER h;
    DWORD pixels[16];
  } dib{};
  dib.h.biSize = sizeof(BITMAPINFOHEADER);
  dib.h.biWidth = 4;
  dib.h.biHeight = 4;
  dib.h.biPlanes = 1;
  dib.h.biBitCount = 32;
  dib.h.biCompression = BI_RGB;
  return Block(&dib, sizeof(dib));
}

int g_viewerDraws = 0;
HWND g_viewerNext = nullptr;
DWORD g_viewerHangMs = 0;

LRESULT CALLBACK ViewerProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_DRAWCLIPBOARD:
      ++g_viewerDraws;
      if (g_viewerHangMs) ::Sleep(g_viewerHangMs);
      if (g_viewerNext) ::SendMessageW(g_viewerNext, msg, w, l);
      return 0;
    case WM_CHANGECBCHAIN:
      if (reinterpret_cast<HWND>(w) == g_viewerNext) {
        g_viewerNext = reinterpret_cast<HWND>(l);
      } else if (g_viewerNext) {
        ::SendMessageW(g_viewerNext, msg, w, l);
      }
      return 0;
    default:
      return ::DefWindowProcW(h, msg, w, l);
  }
}

int RunViewer(DWORD lifeMs, DWORD hangMs) {
  const win::UniqueHwnd window = WindowOfProc(L"PellucidorTestViewerProcess", ViewerProc);
  HWND h = window.get();
  g_viewerNext = ::SetClipboardViewer(h);
  g_viewerDraws = 0;  // joining announces the present content: not a change
  g_viewerHangMs = hangMs;
  PumpFor(lifeMs);
  ::ChangeClipboardChain(h, g_viewerNext);
  PumpFor(50);
  return g_viewerDraws;
}

bool OpenClipboardPatiently(HWND owner = nullptr) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (::OpenClipboard(owner)) return true;
    ::Sleep(2);
  }
  return false;
}

// Distinct texts "burst 1", "burst 2", ... one clipboard change each, spacingMs apart.
int RunBurst(unsigned count, unsigned spacingMs, unsigned first, bool everyOtherPrivate) {
  static const UINT ignore = ::RegisterClipboardFormatW(L"Clipboard Viewer Ignore");
  for (unsigned i = first; i < first + count; ++i) {
    if (!OpenClipboardPatiently()) return 3;
    ::EmptyClipboard();
    const bool secret = everyOtherPrivate && i % 2 == 0;
    if (secret) ::SetClipboardData(ignore, Block("", 1));
    ::SetClipboardData(CF_UNICODETEXT, TextBlock((secret ? L"secret " : L"burst ") + std::to_wstring(i)));
    ::CloseClipboard();
    if (spacingMs) ::Sleep(spacingMs);
  }
  return 0;
}

// Offers text that it never renders, then ends.
int RunUnrenderedText() {
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!OpenClipboardPatiently(owner)) return 3;
  ::EmptyClipboard();
  ::SetClipboardData(CF_UNICODETEXT, nullptr);
  ::CloseClipboard();
  ::DestroyWindow(owner);
  return 0;
}

int RunHelper(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--unrendered") return RunUnrenderedText();
  if (argc > 3 && std::wstring(argv[1]) == L"--viewer") {
    return RunViewer(std::wcstoul(argv[2], nullptr, 10), std::wcstoul(argv[3], nullptr, 10));
  }
  if (argc > 5 && std::wstring(argv[1]) == L"--burst") {
    return RunBurst(std::wcstoul(argv[2], nullptr, 10), std::wcstoul(argv[3], nullptr, 10),
                    std::wcstoul(argv[4], nullptr, 10), std::wcstoul(argv[5], nullptr, 10) != 0);
  }
  if (!OpenClipboardPatiently()) return 3;
  ::EmptyClipboard();
  DWORD hold = 0;
  for (int i = 2; i < argc; ++i) {
    const std::wstring item = argv[i];
    const size_t eq = item.find(L'=');
    const std::wstring key = item.substr(0, eq);
    const std::wstring value = eq == std::wstring::npos ? L"" : item.substr(eq + 1);
    if (key == L"text") {
      ::SetClipboardData(CF_UNICODETEXT, TextBlock(FromHex(value)));
    } else if (key == L"ansitext") {
      const std::string ansi = win::WideToBytes(FromHex(value), CP_ACP);
      ::SetClipboardData(CF_TEXT, Block(ansi.c_str(), ansi.size() + 1));
    } else if (key == L"rtf") {
      const std::string rtf = win::WideToBytes(FromHex(value), CP_ACP);
      ::SetClipboardData(::RegisterClipboardFormatW(L"Rich Text Format"), Block(rtf.c_str(), rtf.size() + 1));
    } else if (key == L"bitmap") {
      ::SetClipboardData(CF_BITMAP, SmallBitmap());
    } else if (key == L"dib") {
      ::SetClipboardData(CF_DIB, SmallDib());
    } else if (key == L"files") {
      ::SetClipboardData(CF_HDROP, FileListBlock(FromHex(value)));
    } else if (key == L"mark") {
      ::SetClipboardData(::RegisterClipboardFormatW(FromHex(value).c_str()), Block("", 1));
    } else if (key == L"dword") {
      const size_t colon = value.find(L':');
      const DWORD v = std::wcstoul(value.substr(colon + 1).c_str(), nullptr, 10);
      ::SetClipboardData(::RegisterClipboardFormatW(FromHex(value.substr(0, colon)).c_str()),
                         Block(&v, sizeof(v)));
    } else if (key == L"raw") {
      const size_t colon = value.find(L':');
      const UINT format = std::wcstoul(value.substr(0, colon).c_str(), nullptr, 10);
      const std::string bytes = BytesFromHex(value.substr(colon + 1));
      HGLOBAL h = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());  // exactly this size, even 0
      if (h && !bytes.empty()) {
        std::memcpy(::GlobalLock(h), bytes.data(), bytes.size());
        ::GlobalUnlock(h);
      }
      ::SetClipboardData(format, h);
    } else if (key == L"big") {
      ::SetClipboardData(CF_UNICODETEXT, TextBlock(BigText(std::wcstoul(value.c_str(), nullptr, 10))));
    } else if (key == L"hold") {
      hold = std::wcstoul(value.c_str(), nullptr, 10);
    }
  }
  ::CloseClipboard();
  if (hold) {
    if (::OpenClipboard(nullptr)) {
      ::Sleep(hold);
      ::CloseClipboard();
    }
  }
  return 0;
}

}  // namespace

void ParseArguments(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a.rfind(L"--exe=", 0) == 0) g_exe = a.substr(6);
  }
}

bool RunHelperIfAsked(int argc, wchar_t** argv, int& exitCode) {
  const std::wstring self = SelfPath();
  const size_t slash = self.find_last_of(L'\\');
  if (_wcsicmp(self.c_str() + slash + 1, kPlantedName) == 0) {
    // A copy planted under a system program's name: it only leaves its mark.
    exitCode = WriteBytes(PlantedMark(self.substr(0, slash)), "ran") ? 0 : 1;
    return true;
  }
  const std::wstring mode = argc < 2 ? L"" : argv[1];
  if (mode != L"--helper" && mode != L"--viewer" && mode != L"--burst" && mode != L"--unrendered")
    return false;
  exitCode = RunHelper(argc, argv);
  return true;
}

std::wstring PellucidorExe() {
  std::wstring path = g_exe;
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;  // a Linux path seen through Wine
  for (auto& c : path) c = c == L'/' ? L'\\' : c;
  return path;
}

win::UniqueHwnd WindowOfProc(const wchar_t* className, WNDPROC proc) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  ::RegisterClassW(&wc);  // fails harmlessly when registered already
  return win::UniqueHwnd(::CreateWindowExW(0, className, L"", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                                           wc.hInstance, nullptr));
}

std::wstring SelfPath() {
  wchar_t buf[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return std::wstring(buf, n);
}

bool PlantSelf(const std::wstring& folder) {
  return ::CopyFileW(SelfPath().c_str(), (folder + L"\\" + kPlantedName).c_str(), FALSE) != FALSE;
}

bool ClipboardFromOtherProcess(const std::vector<std::wstring>& items) {
  return RunSelf(L"--helper", items);
}

std::vector<std::wstring> BurstArgs(const Burst& b) {
  return {std::to_wstring(b.count), std::to_wstring(b.spacingMs), std::to_wstring(b.first),
          b.everyOtherPrivate ? L"1" : L"0"};
}

bool BurstFromOtherProcess(const Burst& burst) {
  return RunSelf(L"--burst", BurstArgs(burst));
}

win::UniqueHandle StartBurst(const Burst& burst) {
  std::wstring cmd = L"\"" + SelfPath() + L"\" --burst";
  for (const auto& a : BurstArgs(burst)) cmd += L" " + a;
  win::UniqueHandle process;
  (void)StartProcess(cmd, &process);
  return process;
}

bool StartProcess(std::wstring commandLine, win::UniqueHandle* process, DWORD* pid) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
    return false;
  }
  win::UniqueHandle thread(pi.hThread);
  win::UniqueHandle owned(pi.hProcess);
  if (process) *process = std::move(owned);
  if (pid) *pid = pi.dwProcessId;
  return true;
}

bool RunSelf(const std::wstring& mode, const std::vector<std::wstring>& args) {
  std::wstring cmd = L"\"" + SelfPath() + L"\" " + mode;
  for (const auto& i : args) cmd += L" " + i;
  win::UniqueHandle process;
  if (!StartProcess(cmd, &process)) return false;
  // Keep answering messages while the helper works: it notifies our viewers. A burst of ten thousand
  // copies takes minutes; an hour means the helper is stuck.
  const DWORD deadline = ::GetTickCount() + 3600 * 1000;
  for (;;) {
    const HANDLE h = process.get();
    const DWORD r = ::MsgWaitForMultipleObjects(1, &h, FALSE, 1000, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) break;
    if (r == WAIT_FAILED || static_cast<int>(deadline - ::GetTickCount()) <= 0) return false;
    PumpFor(0);
  }
  DWORD code = 1;
  ::GetExitCodeProcess(process.get(), &code);
  return code == 0;
}

ViewerProcess::ViewerProcess(DWORD lifeMs, DWORD hangMs) {
  (void)StartProcess(
      L"\"" + SelfPath() + L"\" --viewer " + std::to_wstring(lifeMs) + L" " + std::to_wstring(hangMs),
      &process_);
}

ViewerProcess::~ViewerProcess() {
  if (process_) (void)WaitEnd();
}

bool ViewerProcess::WaitJoined() {
  return PumpUntil([] {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(::GetClipboardViewer(), &pid);
    return pid != 0 && pid != ::GetCurrentProcessId();
  });
}

int ViewerProcess::WaitEnd() {
  if (!PumpUntil([this] { return ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }, 20000))
    return -1;
  DWORD code = 0;
  ::GetExitCodeProcess(process_.get(), &code);
  return static_cast<int>(code);
}

std::wstring Hex(std::wstring_view text) {
  std::wstring out;
  wchar_t buf[8];
  for (wchar_t c : text) {
    swprintf(buf, 8, L"%04X", static_cast<unsigned>(c));
    out += buf;
  }
  return out.empty() ? L"" : out;
}

std::wstring HexBytes(std::string_view bytes) {
  std::wstring out;
  wchar_t buf[4];
  for (unsigned char c : bytes) {
    swprintf(buf, 4, L"%02X", static_cast<unsigned>(c));
    out += buf;
  }
  return out;
}

void PumpFor(DWORD ms) {
  const DWORD end = ::GetTickCount() + ms;
  do {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (ms) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  } while (static_cast<int>(end - ::GetTickCount()) > 0);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD end = ::GetTickCount() + timeoutMs;
  for (;;) {
    PumpFor(0);
    if (done()) return true;
    if (static_cast<int>(end - ::GetTickCount()) <= 0) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

TempFolder::TempFolder() {
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  static int counter = 0;
  for (;;) {
    path_ = std::wstring(base) + L"pellucidor-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    if (::CreateDirectoryW(path_.c_str(), nullptr)) break;
  }
}

TempFolder::TempFolder(const std::wstring& base) {
  static int counter = 0;
  do {
    path_ = base + L"\\t" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
  } while (!::CreateDirectoryW(path_.c_str(), nullptr) && ::GetLastError() == ERROR_ALREADY_EXISTS);
}

TempFolder::~TempFolder() {
  std::wstring from = path_;
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  (void)::SHFileOperationW(&op);
}

AnswerProbe::AnswerProbe(HWND window) : window_(window) {
  thread_.reset(::CreateThread(nullptr, 0, &AnswerProbe::Run, this, 0, nullptr));
}

AnswerProbe::~AnswerProbe() {
  ::InterlockedExchange(&stop_, 1);
  // The window may be this thread's: answer the probe's last message while waiting for it.
  const HANDLE thread = thread_.get();
  MSG msg;
  while (::MsgWaitForMultipleObjects(1, &thread, FALSE, 10000, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
    (void)::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

double AnswerProbe::TakeLongestMs() {
  return ::InterlockedExchange(&longestUs_, 0) / 1000.0;
}

DWORD WINAPI AnswerProbe::Run(void* p) {
  auto* self = static_cast<AnswerProbe*>(p);
  LARGE_INTEGER freq, t0, t1;
  ::QueryPerformanceFrequency(&freq);
  while (!::InterlockedCompareExchange(&self->stop_, 0, 0)) {
    ::QueryPerformanceCounter(&t0);
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutW(self->window_, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored)) break;
    ::QueryPerformanceCounter(&t1);
    const LONG us = static_cast<LONG>((t1.QuadPart - t0.QuadPart) * 1000000 / freq.QuadPart);
    if (us > self->longestUs_) ::InterlockedExchange(&self->longestUs_, us);
    // Not more often: under Wine a busier probe delays the window's clipboard notifications.
    ::Sleep(15);
  }
  return 0;
}

void ReportSilence(const char* window, double ms) {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::printf("[ silence  ] %s.%s: %s answered within %.0f ms throughout\n",
              test ? test->test_suite_name() : "", test ? test->name() : "", window, ms);
}

std::wstring BigText(size_t n) {
  std::wstring t = L"BIG ";
  t.reserve(n);
  while (t.size() < n) t += L"0123456789abcdef"[t.size() % 16];
  t.resize(n);
  return t;
}

std::optional<std::wstring> SmallDisk() {
  const char* unix = std::getenv("PELLUCIDOR_SMALL_DISK");
  if (!unix || !*unix) return std::nullopt;
  std::wstring path = L"Z:" + win::BytesToWide(unix, CP_UTF8);  // Wine's drive for the Unix root
  std::replace(path.begin(), path.end(), L'/', L'\\');
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
  return path;
}

DiskFiller::DiskFiller(const std::wstring& folder) : path_(folder + L"\\filler.bin") {
  win::UniqueFile f(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  const std::string chunk(64 * 1024, 'f');
  for (DWORD size = static_cast<DWORD>(chunk.size()); f && size > 0; size /= 2) {
    DWORD wrote = 0;
    while (::WriteFile(f.get(), chunk.data(), size, &wrote, nullptr) && wrote == size) {
    }
  }
}

DiskFiller::~DiskFiller() {
  ::DeleteFileW(path_.c_str());
}

std::string ReadBytes(const std::wstring& path) {
  win::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  if (!f) return {};
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (::ReadFile(f.get(), buf, sizeof(buf), &got, nullptr) && got) out.append(buf, got);
  return out;
}

std::vector<std::string> LogLines(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  std::vector<std::string> lines;
  for (size_t start = 0, crlf; (crlf = bytes.find("\r\n", start)) != std::string::npos; start = crlf + 2) {
    lines.push_back(bytes.substr(start, crlf - start));
  }
  return lines;
}

bool WriteBytes(const std::wstring& path, std::string_view bytes) {
  win::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD wrote = 0;
  return f && ::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
         wrote == bytes.size();
}

std::string Utf8(std::wstring_view text) {
  return win::WideToBytes(text, CP_UTF8);
}

std::wstring ClipboardText() {
  if (!OpenClipboardPatiently()) return L"<busy>";
  std::wstring text;
  if (HANDLE h = ::GetClipboardData(CF_UNICODETEXT)) {
    if (auto* p = static_cast<const wchar_t*>(::GlobalLock(h))) {
      text = p;
      ::GlobalUnlock(h);
    }
  }
  ::CloseClipboard();
  return text;
}

void DeleteRegistryTree(HKEY root, const std::wstring& path) {
  (void)::RegDeleteTreeW(root, path.c_str());
}

}  // namespace testsupport
