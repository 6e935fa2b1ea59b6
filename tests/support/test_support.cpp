#include "support/test_support.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "win/text.h"

namespace testsupport {
namespace {

std::wstring g_exe;
constexpr wchar_t kPlantedName[] = L"notepad.exe";
constexpr wchar_t kReleaseViewer[] = L"PellucidorTestReleaseViewer";

std::string BytesFromHex(std::wstring_view hex) {
  std::string out;
  for (size_t i = 0; i + 2 <= hex.size(); i += 2)
    out += static_cast<char>(std::wcstoul(std::wstring(hex.substr(i, 2)).c_str(), nullptr, 16));
  return out;
}

// Exactly bytes long, even 0: readers must not trust the platform to end a block.
HGLOBAL Block(std::string_view bytes) {
  HGLOBAL h = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (h && !bytes.empty()) {
    std::memcpy(::GlobalLock(h), bytes.data(), bytes.size());
    ::GlobalUnlock(h);
  }
  return h;
}

bool OpenClipboardPatiently(HWND owner = nullptr) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (::OpenClipboard(owner)) return true;
    ::Sleep(2);
  }
  return false;
}

int CopyItems(int argc, wchar_t** argv) {
  // An owner window: a format offered without its data needs one.
  const win::UniqueHwnd owner(
      ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
  if (!OpenClipboardPatiently(owner.get())) return 3;
  ::EmptyClipboard();
  DWORD hold = 0;
  for (int i = 2; i < argc; ++i) {
    const std::wstring item = argv[i];
    if (item == L"bitmap") {
      HDC screen = ::GetDC(nullptr);
      ::SetClipboardData(CF_BITMAP, ::CreateCompatibleBitmap(screen, 4, 4));
      ::ReleaseDC(nullptr, screen);
    } else if (item.rfind(L"big=", 0) == 0) {
      const std::wstring t = BigText(std::wcstoul(item.c_str() + 4, nullptr, 10));
      ::SetClipboardData(CF_UNICODETEXT, Block(Bytes(std::wstring_view(t.c_str(), t.size() + 1))));
    } else if (item.rfind(L"hold=", 0) == 0) {
      hold = std::wcstoul(item.c_str() + 5, nullptr, 10);

    } else {
      const size_t colon = item.rfind(L':');
      const std::wstring name = item.substr(0, colon), data = item.substr(colon + 1);
      const UINT format = std::iswdigit(name[0]) ? std::wcstoul(name.c_str(), nullptr, 10)
                                                 : ::RegisterClipboardFormatW(name.c_str());
      ::SetClipboardData(format, data == L"-" ? nullptr : Block(BytesFromHex(data)));
    }
  }
  ::CloseClipboard();
  if (hold && ::OpenClipboard(nullptr)) {
    ::Sleep(hold);
    ::CloseClipboard();
  }
  return 0;
}

int BurstCopies(unsigned count, unsigned spacingMs, unsigned first, bool everyOtherPrivate) {
  const UINT ignore = ::RegisterClipboardFormatW(L"Clipboard Viewer Ignore");
  for (unsigned i = first; i < first + count; ++i) {
    if (!OpenClipboardPatiently()) return 3;
    ::EmptyClipboard();
    const bool secret = everyOtherPrivate && i % 2 == 0;
    if (secret) ::SetClipboardData(ignore, Block(std::string(1, '\0')));
    const std::wstring t = (secret ? L"secret " : L"burst ") + std::to_wstring(i);
    ::SetClipboardData(CF_UNICODETEXT, Block(Bytes(std::wstring_view(t.c_str(), t.size() + 1))));
    ::CloseClipboard();
    if (spacingMs) ::Sleep(spacingMs);
  }
  return 0;
}

HWND g_viewerNext = nullptr;
bool g_viewerHangs = false;
HANDLE g_release = nullptr;

LRESULT CALLBACK ViewerProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_DRAWCLIPBOARD) {
    if (g_viewerHangs) ::WaitForSingleObject(g_release, 30000);
    if (g_viewerNext) ::SendMessageW(g_viewerNext, msg, w, l);
    return 0;
  }
  if (msg == WM_CHANGECBCHAIN) {
    if (reinterpret_cast<HWND>(w) == g_viewerNext) {
      g_viewerNext = reinterpret_cast<HWND>(l);
    } else if (g_viewerNext) {
      ::SendMessageW(g_viewerNext, msg, w, l);
    }
    return 0;
  }
  return ::DefWindowProcW(h, msg, w, l);
}

// Stops answering at every change until released; then leaves the chain.
int HungViewer() {
  g_release = ::OpenEventW(SYNCHRONIZE, FALSE, kReleaseViewer);
  const win::UniqueHwnd window = WindowOfProc(L"PellucidorTestViewerProcess", ViewerProc);
  g_viewerNext = ::SetClipboardViewer(window.get());
  g_viewerHangs = true;  // joining announces the present content: not a change
  while (::MsgWaitForMultipleObjects(1, &g_release, FALSE, 60000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) Pump();
  ::ChangeClipboardChain(window.get(), g_viewerNext);
  return 0;
}

std::wstring Quoted(const std::wstring& s) {
  return L"\"" + s + L"\"";
}

win::UniqueHandle StartSelf(const std::wstring& mode, const std::vector<std::wstring>& args) {
  std::wstring cmd = Quoted(SelfPath()) + L" " + mode;
  for (const auto& a : args) cmd += L" " + Quoted(a);
  win::UniqueHandle process;
  (void)StartProcess(cmd, &process);
  return process;
}

bool RunSelf(const std::wstring& mode, const std::vector<std::wstring>& args) {
  const win::UniqueHandle process = StartSelf(mode, args);
  if (!process) return false;
  // Answers messages meanwhile: the helper's changes notify our windows.
  const HANDLE h = process.get();
  while (::MsgWaitForMultipleObjects(1, &h, FALSE, 3600 * 1000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) Pump();
  DWORD code = 1;
  ::GetExitCodeProcess(h, &code);
  return code == 0;
}

std::vector<std::wstring> BurstArgs(const Burst& b) {
  return {std::to_wstring(b.count), std::to_wstring(b.spacingMs), std::to_wstring(b.first),
          b.everyOtherPrivate ? L"1" : L"0"};
}

}  // namespace

void ParseArguments(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a.rfind(L"--exe=", 0) == 0) g_exe = a.substr(6);
  }
}

bool RunHelperIfAsked(int argc, wchar_t** argv, int& exitCode) {
  const std::wstring self = SelfPath();
  const size_t slash = self.find_last_of(L'\\');
  const std::wstring mode = argc < 2 ? L"" : argv[1];
  if (_wcsicmp(self.c_str() + slash + 1, kPlantedName) == 0) {
    exitCode = WriteBytes(PlantedMark(self.substr(0, slash)), "ran") ? 0 : 1;
  } else if (mode == L"--copy") {
    exitCode = CopyItems(argc, argv);
  } else if (mode == L"--burst" && argc > 5) {
    const auto n = [&](int i) { return static_cast<unsigned>(std::wcstoul(argv[i], nullptr, 10)); };
    exitCode = BurstCopies(n(2), n(3), n(4), n(5) != 0);
  } else if (mode == L"--viewer") {
    exitCode = HungViewer();
  } else {
    return false;
  }
  return true;
}

bool PlantSelf(const std::wstring& folder) {
  return ::CopyFileW(SelfPath().c_str(), (folder + L"\\" + kPlantedName).c_str(), FALSE) != FALSE;
}

std::wstring PlantedMark(const std::wstring& folder) {
  return folder + L"\\planted program ran";
}

std::wstring PellucidorExe() {
  std::wstring path = g_exe;
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;  // a Linux path seen through Wine
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::wstring SelfPath() {
  wchar_t buf[MAX_PATH];
  return std::wstring(buf, ::GetModuleFileNameW(nullptr, buf, MAX_PATH));
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

std::wstring Format(const std::wstring& format, std::string_view bytes) {
  return format + L":" + HexBytes(bytes);
}

std::string Bytes(std::wstring_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::wstring Text(std::wstring_view text) {
  return Format(L"13", Bytes(text) + std::string(2, '\0'));
}

bool Copy(const std::vector<std::wstring>& items) {
  return RunSelf(L"--copy", items);
}

bool RunBurst(const Burst& burst) {
  return RunSelf(L"--burst", BurstArgs(burst));
}

win::UniqueHandle StartCopy(const std::vector<std::wstring>& items) {
  return StartSelf(L"--copy", items);
}

win::UniqueHandle StartBurst(const Burst& burst) {
  return StartSelf(L"--burst", BurstArgs(burst));
}

HANDLE ReleaseEvent() {
  static const win::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, kReleaseViewer));
  return release.get();
}

win::UniqueHandle StartHungViewer() {
  ::ResetEvent(ReleaseEvent());
  win::UniqueHandle process;
  if (!StartProcess(Quoted(SelfPath()) + L" --viewer", &process)) return process;
  (void)PumpUntil([] {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(::GetClipboardViewer(), &pid);
    return pid != 0 && pid != ::GetCurrentProcessId();
  });
  return process;
}

void ReleaseHungViewer(const win::UniqueHandle& viewer) {
  ::SetEvent(ReleaseEvent());
  (void)PumpUntil([&] { return ::WaitForSingleObject(viewer.get(), 0) == WAIT_OBJECT_0; }, 60000);
}

bool StartProcess(std::wstring commandLine, win::UniqueHandle* process, DWORD* pid) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  win::UniqueHandle thread(pi.hThread);
  win::UniqueHandle owned(pi.hProcess);
  if (process) *process = std::move(owned);
  if (pid) *pid = pi.dwProcessId;
  return true;
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

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD end = ::GetTickCount() + timeoutMs;
  for (;;) {
    Pump();
    if (done()) return true;
    if (static_cast<int>(end - ::GetTickCount()) <= 0) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

TempFolder::TempFolder(const std::wstring& base) {
  std::wstring root = base;
  if (root.empty()) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    root = temp;
    root.pop_back();
  }
  static int counter = 0;
  do {
    path_ = root + L"\\pt" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
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
  while (::MsgWaitForMultipleObjects(1, &thread, FALSE, 10000, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
    (void)::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void AnswerProbe::Report(const char* window) {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::printf("[ silence  ] %s.%s: %s answered within %.0f ms throughout\n",
              test ? test->test_suite_name() : "", test ? test->name() : "", window,
              ::InterlockedExchange(&longestUs_, 0) / 1000.0);
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
    ::Sleep(15);  // not more often: under Wine a busier probe delays clipboard notifications
  }
  return 0;
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

std::string ReadBytes(const std::wstring& path) {
  win::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (f && ::ReadFile(f.get(), buf, sizeof(buf), &got, nullptr) && got) out.append(buf, got);
  return out;
}

std::vector<std::string> LogLines(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  std::vector<std::string> lines;
  for (size_t start = 0, crlf; (crlf = bytes.find("\r\n", start)) != std::string::npos; start = crlf + 2)
    lines.push_back(bytes.substr(start, crlf - start));
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

}  // namespace testsupport
