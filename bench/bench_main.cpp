// The benchmark: the shipped code on the real platform (settings store, list view window, clipboard,
// log file) at growing history sizes, against the plain design where that finishes in time; bursts
// of copies through Pellucidor.exe itself, started as a user starts it and watched from outside.
// Prints one table of medians. `--quick` runs the smallest size once, for the smoke test; `--find`
// the find figures alone.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <filesystem>
#include <set>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "history/files_codec.h"
#include "history/disk_io.h"
#include "history/history.h"
#include "app/find_in_list.h"
#include "app/form1.h"
#include "history/journal_codec.h"
#include "history/row_store.h"
#include "history/settings.h"
#include "history/text_search.h"
#include "clip/clipboard.h"
#include "clip/mclip.h"
#include "clip/save_log.h"
#include "plain_design.h"
#include "win/module.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

// Where the measured runs log: a scratch folder, not the program's.
clip::LogLocations g_log;
// A settings key and a journal of the bench's own: run on a developer's machine, it touches none
// of the program's.
const history::Settings g_settings(L"Software\\PellucidorBench");
std::wstring g_data;  // the history's files

double NowMs() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Time(const std::function<void()>& f) {
  const double t0 = NowMs();
  f();
  return NowMs() - t0;
}

// Committed private memory, counted region by region: the process counters under Wine do not
// follow the heap.
size_t PrivateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION mbi{};
  for (const char* p = nullptr; ::VirtualQuery(p, &mbi, sizeof(mbi)) == sizeof(mbi);) {
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
    const char* next = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= p) break;
    p = next;
  }
  return total;
}

int g_pumped = 0;
UINT g_lastPumped = 0;
HWND g_timersOf = nullptr;  // its timer messages are counted
int g_timers = 0;

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ++g_pumped;
    g_lastPumped = msg.message;
    if (msg.message == WM_TIMER && msg.hwnd == g_timersOf) ++g_timers;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// A realistic mix from a fixed seed: mostly short, some long, a few long multi-line texts, some
// non-ASCII; every text distinct.
class TextMaker {
 public:
  std::wstring Next() {
    const int kind = std::uniform_int_distribution<int>(0, 9999)(gen_);
    size_t length = 0;
    bool multiline = false;
    if (kind < 9750) {
      length = std::uniform_int_distribution<size_t>(5, 80)(gen_);
    } else if (kind < 9995) {
      length = std::uniform_int_distribution<size_t>(81, 2000)(gen_);
    } else {
      length = std::uniform_int_distribution<size_t>(2001, 20000)(gen_);
      multiline = true;
    }
    const bool nonAscii = kind % 10 == 3;
    std::wstring t = std::to_wstring(counter_++) + L" ";
    while (t.size() < length) {
      const int c = std::uniform_int_distribution<int>(0, 63)(gen_);
      if (multiline && c == 0) {
        t += L"\r\n";
      } else if (c < 6) {
        t += L' ';
      } else if (nonAscii && c < 12) {
        t += static_cast<wchar_t>(L'\u00E0' + c);  // accented letters
      } else if (nonAscii && c < 16) {
        t += static_cast<wchar_t>(L'\u65E5' + c);  // CJK
      } else {
        t += static_cast<wchar_t>(L'a' + c % 26);
      }
    }
    return t;
  }

 private:
  std::mt19937 gen_{20261206};
  unsigned counter_ = 0;
};

struct Figures {
  double restore = 0, readStore = 0, recordNew = 0, recordDup = 0, save = 0, remove = 0, bytesPerEntry = 0;
  bool measured = false;
};

// Puts the text on the clipboard and waits until the window has handled the change: read by the
// capture thread, then recorded (or found listed) by the window.
void RecordNow(const std::wstring& text, HWND owner) {
  clip::SetText(text, owner);
  const DWORD sequence = ::GetClipboardSequenceNumber();
  while (static_cast<LONG>(mClip::HandledSequence() - sequence) < 0) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    Pump();
  }
}

// What earlier measures left: the next start reads the stored list alone.
void ForgetHistory() {
  std::error_code error;
  for (const auto& f : std::filesystem::directory_iterator(std::filesystem::path(g_data), error))
    if (f.path().filename().wstring().rfind(L"history.", 0) == 0) std::filesystem::remove(f.path(), error);
}

std::unique_ptr<app::Form1> OpenForm(uint64_t foldAfterBytes = 0) {
  app::Form1Options options;
  options.random = [] { return 0.5; };
  options.quitOnDestroy = false;
  options.log = g_log;
  options.dataFolder = g_data;
  options.settingsKey = g_settings.keyPath();
  options.foldAfterBytes = foldAfterBytes;
  auto form = std::make_unique<app::Form1>(std::move(options));
  form->Create(::GetModuleHandleW(nullptr));
  return form;
}

Figures MeasureShipped(const std::vector<std::wstring>& texts, int runs, int changes) {
  Figures f;
  std::vector<std::wstring_view> views(texts.begin(), texts.end());
  const std::wstring files = history::EncodeFiles(views);
  size_t textBytes = 0;
  for (const auto& t : texts) textBytes += t.size() * sizeof(wchar_t);

  std::vector<double> restores;
  history::SaveSetting(g_settings, L"Files", files);
  ForgetHistory();
  // Read from the stored list once, then from what each close leaves: the snapshot and journals.
  std::unique_ptr<app::Form1> form = OpenForm();
  Pump();  // its fold begins: the list goes into a snapshot of its own
  for (int run = 0; run < runs; ++run) {
    form.reset();
    const size_t before = PrivateBytes();
    restores.push_back(Time([&] {
      form = OpenForm();
      Pump();
    }));
    if (run == 0) {
      // The stored value itself is gone again once the list is filled.
      const double delta = static_cast<double>(PrivateBytes()) - static_cast<double>(before);
      f.bytesPerEntry = (delta - static_cast<double>(textBytes)) / static_cast<double>(texts.size());
    }
  }
  f.restore = Median(restores);
  // The share of the settings store in the restore: reading the stored value alone.
  f.readStore = Time([] { (void)history::GetSetting(g_settings, L"Files", L""); });

  std::vector<double> fresh, dup;
  for (int k = 0; k < changes; ++k) {
    const std::wstring text = L"bench new text " + std::to_wstring(texts.size()) + L"." + std::to_wstring(k);
    fresh.push_back(Time([&] { RecordNow(text, form->hwnd()); }));
    dup.push_back(Time([&] { RecordNow(texts[(k * 7919u) % texts.size()], form->hwnd()); }));
  }
  f.recordNew = Median(fresh);
  f.recordDup = Median(dup);

  std::vector<double> saves, removes;
  for (int run = 0; run < runs; ++run) saves.push_back(Time([&] { form->SaveEntries(); }));
  f.save = Median(saves);
  for (int k = 0; k < 21; ++k) {
    form->ListView1.Select(form->ListView1.Count() / 2);
    removes.push_back(Time([&] { form->ListView1_DblClick(); }));
  }
  f.remove = Median(removes);
  f.measured = true;
  history::SaveSetting(g_settings, L"Files", L"");
  form.reset();
  return f;
}

Figures MeasurePlain(const std::vector<std::wstring>& texts, int runs, int changes) {
  Figures f;
  win::UniqueHwnd host(::CreateWindowExW(0, WC_STATICW, L"plain", WS_OVERLAPPEDWINDOW, 0, 0, 520, 500,
                                         nullptr, nullptr, nullptr, nullptr));
  std::wstring files;
  for (const auto& t : texts) files = files + t + L";";
  history::SaveSetting(g_settings, L"Files", files);
  std::vector<double> restores;
  std::unique_ptr<bench::PlainList> plain;
  for (int run = 0; run < runs; ++run) {
    plain.reset();
    ::ShowWindow(host.get(), SW_HIDE);  // filled before it is shown, as a window fills at load
    restores.push_back(Time([&] {
      plain = std::make_unique<bench::PlainList>(host.get());
      plain->Restore(history::DecodeFiles(history::GetSetting(g_settings, L"Files", L"")));
      ::ShowWindow(host.get(), SW_SHOW);
      ::UpdateWindow(host.get());
      Pump();
    }));
  }
  f.restore = Median(restores);

  const auto record = [&](const std::wstring& text) {
    clip::SetText(text, host.get());
    const std::wstring got = clip::GetText().value_or(L"");
    if (plain->IsListed(got)) return;
    plain->Add(got);
    clip::WriteLogLine(got + clip::kAddedPhrase + clip::NowText(), g_log);
  };
  std::vector<double> fresh, dup;
  for (int k = 0; k < changes; ++k) {
    const std::wstring text = L"plain new text " + std::to_wstring(texts.size()) + L"." + std::to_wstring(k);
    fresh.push_back(Time([&] { record(text); }));
    dup.push_back(Time([&] { record(texts[(k * 7919u) % texts.size()]); }));
  }
  f.recordNew = Median(fresh);
  f.recordDup = Median(dup);
  std::vector<double> saves, removes;
  for (int run = 0; run < runs; ++run) {
    saves.push_back(Time([&] { history::SaveSetting(g_settings, L"Files", plain->BuildFiles()); }));
  }
  f.save = Median(saves);
  for (int k = 0; k < 21; ++k) removes.push_back(Time([&] { plain->RemoveMiddle(); }));
  f.remove = Median(removes);
  f.measured = true;
  return f;
}

// Watches the window from another thread: how long it goes without answering, and the most private
// memory the process holds meanwhile.
class Watch {
 public:
  // memory: also follow the private memory (walking the address space holds up other threads a little).
  Watch(HWND window, bool memory)
      : window_(window), memory_(memory), thread_(::CreateThread(nullptr, 0, Run, this, 0, nullptr)) {}
  ~Watch() {
    ::InterlockedExchange(&stop_, 1);
    // The watcher may be waiting on this very thread's window: answer it until it ends, or both
    // wait for its minute-long timeout.
    const HANDLE thread = thread_.get();
    MSG msg;
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
      (void)::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  double longestSilenceMs = 0;
  size_t peakPrivate = 0;

 private:
  static DWORD WINAPI Run(void* p) {
    auto* self = static_cast<Watch*>(p);
    while (!::InterlockedCompareExchange(&self->stop_, 0, 0)) {
      if (self->memory_) self->peakPrivate = std::max(self->peakPrivate, PrivateBytes());
      const double t0 = NowMs();
      DWORD_PTR ignored = 0;
      ::SendMessageTimeoutW(self->window_, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored);
      self->longestSilenceMs = std::max(self->longestSilenceMs, NowMs() - t0);
      ::Sleep(5);
    }
    return 0;
  }
  HWND window_;
  bool memory_;
  volatile LONG stop_ = 0;
  win::UniqueHandle thread_;
};

// Another process copies a text of chars characters; the window records it as a row, a log line
// and a journal record.
void MeasureHugeText(size_t chars) {
  auto form = OpenForm();
  form->ListView1.Clear();  // what earlier measures left in the journal
  Pump();
  const size_t before = PrivateBytes();
  double silence = 0, seconds = 0;
  size_t peak = 0;
  {
    Watch watch(form->hwnd(), true);
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(self) + L"\" --copy " + std::to_wstring(chars);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const double t0 = NowMs();
    if (::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      win::UniqueHandle process(pi.hProcess), thread(pi.hThread);
      while (form->ListView1.Count() == 0 && NowMs() - t0 < 120000) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        Pump();
      }
    }
    seconds = (NowMs() - t0) / 1000;
    silence = watch.longestSilenceMs;
    peak = watch.peakPrivate;
  }
  const double utf16 = static_cast<double>(chars * sizeof(wchar_t));
  std::printf(
      "a %.0f MB text (%zu characters): %s in %.2f s; the window's longest silence %.0f ms; "
      "peak private memory %.0f MB above idle = %.2f x its UTF-16 size\n",
      utf16 / 1e6, chars, form->ListView1.Count() == 1 ? "recorded" : "NOT recorded", seconds, silence,
      (static_cast<double>(peak) - static_cast<double>(before)) / 1e6,
      (static_cast<double>(peak) - static_cast<double>(before)) / utf16);
  std::fflush(stdout);
  form->ListView1.Clear();
  form.reset();
}

// The helper's side: puts a text of that many characters on the clipboard.
int CopyText(size_t chars) {
  HGLOBAL mem = ::GlobalAlloc(GMEM_MOVEABLE, (chars + 1) * sizeof(wchar_t));
  if (!mem) return 1;
  auto* p = static_cast<wchar_t*>(::GlobalLock(mem));
  for (size_t i = 0; i < chars; ++i) p[i] = static_cast<wchar_t>(L'a' + i % 26);
  p[chars] = L'\0';
  ::GlobalUnlock(mem);
  for (int i = 0; i < 500 && !::OpenClipboard(nullptr); ++i) ::Sleep(2);
  ::EmptyClipboard();
  ::SetClipboardData(CF_UNICODETEXT, mem);
  ::CloseClipboard();
  return 0;
}

// Helper processes for the bursts: the copier, the bare reader and the busy loops.
constexpr wchar_t kReaderReady[] = L"PellucidorBenchReaderReady";
constexpr wchar_t kReaderStop[] = L"PellucidorBenchReaderStop";

// The copier owns its copies with a window of its own and answers what it is asked between them,
// as a program that copies at each key press does (under Wine every reader asks the content's
// owner before it opens the clipboard, and waits for the answer).
HWND g_copyOwner = nullptr;

void AnswerFor(double ms) {
  const double until = NowMs() + ms;
  MSG msg;
  do {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  } while (NowMs() < until &&
           ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - NowMs()) + 1,
                                       QS_ALLINPUT) != WAIT_FAILED);
}

bool PutText(const std::wstring& text) {
  HGLOBAL mem = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  if (!mem) return false;
  std::memcpy(::GlobalLock(mem), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  ::GlobalUnlock(mem);
  bool open = false;
  for (int i = 0; i < 500 && !(open = ::OpenClipboard(g_copyOwner)); ++i) AnswerFor(2);
  if (!open) {
    ::GlobalFree(mem);
    return false;
  }
  ::EmptyClipboard();
  if (!::SetClipboardData(CF_UNICODETEXT, mem)) ::GlobalFree(mem);
  ::CloseClipboard();
  return true;
}

// Each burst ends with a text of its own, a while after its last copy.
std::wstring BurstEnd(unsigned first) {
  return L"end of burst " + std::to_wstring(first);
}

int CopyBurst(unsigned count, unsigned spacingMs, unsigned first) {
  g_copyOwner = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  for (unsigned i = first; i < first + count; ++i) {
    PutText(L"burst " + std::to_wstring(i));
    AnswerFor(spacingMs);
  }
  AnswerFor(100);
  return PutText(BurstEnd(first)) ? 0 : 1;
}

// A window that reads each change's text when told of it, and nothing else: what any program can
// read of a burst. Its exit code is the number of distinct burst texts it read.
std::set<std::wstring> g_read;
LRESULT CALLBACK BareReaderProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg != WM_CLIPBOARDUPDATE) return ::DefWindowProcW(h, msg, w, l);
  bool open = false;  // the window's capture thread may hold it a moment, as any other reader may
  for (int i = 0; i < 100 && !(open = ::OpenClipboard(h)); ++i) ::Sleep(1);
  if (open) {
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
      if (const auto* p = static_cast<const wchar_t*>(::GlobalLock(data))) {
        const std::wstring text = p;
        ::GlobalUnlock(data);
        if (text.rfind(L"burst ", 0) == 0) g_read.insert(text);
      }
    }
    ::CloseClipboard();
  }
  return 0;
}

int BareReader() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = BareReaderProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PellucidorBenchReader";
  ::RegisterClassW(&wc);
  // A hidden top-level window, so that the benchmark can find it and time its answers too.
  win::UniqueHwnd window(::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                           wc.hInstance, nullptr));
  ::AddClipboardFormatListener(window.get());
  win::UniqueHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kReaderReady));
  win::UniqueHandle stop(::OpenEventW(SYNCHRONIZE, FALSE, kReaderStop));
  ::SetEvent(ready.get());
  const HANDLE wait = stop.get();
  while (::MsgWaitForMultipleObjects(1, &wait, FALSE, 60000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
  return static_cast<int>(g_read.size());
}

win::UniqueHandle StartSelf(const std::wstring& args) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(self) + L"\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return {};
  ::CloseHandle(pi.hThread);
  return win::UniqueHandle(pi.hProcess);
}

void PumpUntil(const std::function<bool()>& done, double timeoutMs) {
  const double until = NowMs() + timeoutMs;
  while (!done() && NowMs() < until) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Pump();
  }
}

void PumpFor(double ms) {
  const double until = NowMs() + ms;
  while (NowMs() < until) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Pump();
  }
}

// The bare reader in a process of its own, once it listens; Stop asks it to end and tell its count.
struct BareReaderProcess {
  win::UniqueHandle ready{::CreateEventW(nullptr, TRUE, FALSE, kReaderReady)};
  win::UniqueHandle stop{::CreateEventW(nullptr, TRUE, FALSE, kReaderStop)};
  win::UniqueHandle process = StartSelf(L"--reader");
  HWND window = nullptr;
  BareReaderProcess() {
    PumpUntil([&] { return ::WaitForSingleObject(ready.get(), 0) == WAIT_OBJECT_0; }, 10000);
    window = ::FindWindowW(L"PellucidorBenchReader", nullptr);
  }
  void Stop() {
    ::SetEvent(stop.get());
    PumpUntil([&] { return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; }, 30000);
  }
};

// The real program, started from a folder of its own as a user starts it (its log goes there), and
// watched from outside: the rows its window lists, the lines it logs.
class StartedProgram {
 public:
  explicit StartedProgram(const std::wstring& folder) : folder_(folder) {
    const std::wstring exe = folder + L"\\Pellucidor.exe";
    ::CopyFileW((win::ProgramFolder() + L"\\..\\Pellucidor.exe").c_str(), exe.c_str(), FALSE);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return;
    ::CloseHandle(pi.hThread);
    process_.reset(pi.hProcess);
    // Ready once it has joined the viewer chain, the last step of its start.
    PumpUntil(
        [&] {
          for (HWND h = nullptr; (h = ::FindWindowExW(nullptr, h, app::kFormClass, nullptr));) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(h, &pid);
            if (pid == pi.dwProcessId && ::GetClipboardViewer() == h) window = h;
          }
          return window != nullptr;
        },
        30000);
  }
  ~StartedProgram() {
    if (window) ::PostMessageW(window, WM_CLOSE, 0, 0);
    PumpUntil([&] { return ::WaitForSingleObject(process_.get(), 0) != WAIT_TIMEOUT; }, 30000);
    if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(process_.get(), 1);
  }
  size_t Rows() const { return ::SendMessageW(::GetDlgItem(window, 101), LVM_GETITEMCOUNT, 0, 0); }
  // The texts its log says were added, in order.
  std::vector<std::wstring> Logged() const {
    std::vector<std::wstring> added;
    win::UniqueFile f(::CreateFileW((folder_ + L"\\backups.log").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!f || !::GetFileSizeEx(f.get(), &size)) return added;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    (void)::ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    const std::wstring text = win::BytesToWide(bytes.substr(0, got), CP_UTF8);
    for (size_t at = 0, phrase; (phrase = text.find(clip::kAddedPhrase, at)) != std::wstring::npos;) {
      const size_t lineStart = text.rfind(L'\n', phrase);
      added.push_back(text.substr(lineStart == std::wstring::npos ? 0 : lineStart + 1,
                                  phrase - (lineStart == std::wstring::npos ? 0 : lineStart + 1)));
      at = phrase + 1;
    }
    return added;
  }
  HWND window = nullptr;

 private:
  std::wstring folder_;
  win::UniqueHandle process_;
};

// The started program with a million entries, as a user starts it after a close: ready (in the
// viewer chain) how long after it was started, beside an empty start and another process reading
// the stored list alone.
void MeasureStartFromOutside(const std::vector<std::wstring>& texts) {
  const history::Settings own;
  const std::wstring data = history::DefaultDataFolder();
  std::error_code error;
  HKEY key = nullptr;
  if (!::RegOpenKeyExW(HKEY_CURRENT_USER, own.keyPath().c_str(), 0, KEY_READ, &key) ||
      !std::filesystem::is_empty(std::filesystem::path(data), error)) {
    ::RegCloseKey(key);
    std::printf("\nstart from outside: not measured, this Wine prefix holds the program's own settings\n");
    return;
  }
  const auto startAndClose = [] {
    const double t0 = NowMs();
    double ready = 0;
    {
      const StartedProgram program(g_log.primaryFolder);
      ready = NowMs() - t0;
    }
    return ready;
  };
  std::vector<double> empty, full;
  for (int i = 0; i < 3; ++i) empty.push_back(startAndClose());
  (void)own.Save(L"Files", history::EncodeFiles({texts.begin(), texts.end()}));
  (void)startAndClose();  // reads the stored list, and writes the history's snapshot
  for (int i = 0; i < 3; ++i) full.push_back(startAndClose());
  const double read = Time([&] { (void)own.Read(L"Files"); });
  std::printf(
      "\nstart from outside, %zu entries: ready %.0f ms after it was started (empty history: %.0f ms); "
      "another process reads the stored list in %.0f ms\n",
      texts.size(), Median(full), Median(empty), read);
  (void)::RegDeleteTreeW(HKEY_CURRENT_USER, own.keyPath().c_str());
  std::filesystem::remove_all(std::filesystem::path(data), error);
}

// One burst of 300 copies from another process, counted by the program and, in the same run, by a
// bare reader.
struct BurstCount {
  size_t rows = 0, logged = 0;
  unsigned long bare = 0;
  double silence = 0, bareSilence = 0;
  bool known = false;  // the bare reader told its count, and the program logged the burst's end
};

BurstCount RunBurst(const StartedProgram& program, unsigned spacing, unsigned first) {
  BurstCount count;
  const size_t rowsBefore = program.Rows(), loggedBefore = program.Logged().size();
  BareReaderProcess reader;
  const HWND bareWindow = reader.window;
  win::UniqueHandle copier =
      StartSelf(L"--burst 300 " + std::to_wstring(spacing) + L" " + std::to_wstring(first));
  bool ended = false;
  {
    Watch watch(program.window, false);
    Watch bareWatch(bareWindow, false);
    PumpUntil([&] { return ::WaitForSingleObject(copier.get(), 0) == WAIT_OBJECT_0; }, 120000);
    PumpUntil(
        [&] {
          const std::vector<std::wstring> logged = program.Logged();
          return ended = !logged.empty() && logged.back() == BurstEnd(first);
        },
        30000);
    count.silence = watch.longestSilenceMs;
    count.bareSilence = bareWatch.longestSilenceMs;
  }
  PumpFor(200);  // the reader's last notifications
  reader.Stop();
  DWORD bare = 0;
  ::GetExitCodeProcess(reader.process.get(), &bare);
  if (bare == STILL_ACTIVE) {
    ::TerminateProcess(reader.process.get(), 0);
    return count;
  }
  count.rows = program.Rows() - rowsBefore - 1;  // less the end's own row
  count.logged = program.Logged().size() - loggedBefore - 1;
  count.bare = bare;
  count.known = ended;
  return count;
}

// Bursts 25 to 0 ms apart to the program as a user starts it; with busy, two other processes keep
// both cores busy meanwhile. With no pause at all the two readers race each other and the copier,
// and one burst says little: those are five bursts, added up.
void MeasureBursts(bool busy) {
  // The started program keeps its list where it always does: only in a Wine prefix that has none.
  const std::wstring ownKey = history::Settings().keyPath(), ownData = history::DefaultDataFolder();
  HKEY own = nullptr;
  std::error_code error;
  if (!::RegOpenKeyExW(HKEY_CURRENT_USER, ownKey.c_str(), 0, KEY_READ, &own) ||
      !std::filesystem::is_empty(std::filesystem::path(ownData), error)) {
    ::RegCloseKey(own);
    std::printf(
        "\nbursts: not measured, this Wine prefix holds the program's own settings (make bench "
        "measures in a prefix of its own)\n");
    return;
  }
  std::vector<win::UniqueHandle> spinners;
  if (busy) {
    for (int i = 0; i < 2; ++i) spinners.push_back(StartSelf(L"--spin"));
  }
  {
    const StartedProgram program(g_log.primaryFolder);
    std::printf("\nbursts of 300 copies from another process to the started Pellucidor.exe, %s:\n",
                busy ? "both cores busy elsewhere" : "quiet machine");
    unsigned first = 1;
    for (unsigned spacing : {25u, 10u, 5u, 1u, 0u}) {
      const int bursts = spacing ? 1 : 5;
      BurstCount total;
      total.known = program.window != nullptr;
      for (int b = 0; b < bursts && total.known; ++b, first += 300) {
        const BurstCount one = RunBurst(program, spacing, first);
        total.known = one.known;
        total.rows += one.rows;
        total.logged += one.logged;
        total.bare += one.bare;
        total.silence = std::max(total.silence, one.silence);
        total.bareSilence = std::max(total.bareSilence, one.bareSilence);
      }
      if (!total.known) {
        std::printf("%3u ms apart: the burst's end was not seen; its counts are unknown\n", spacing);
        continue;
      }
      std::printf(
          "%3u ms apart%s: Pellucidor %4zu rows (%4zu logged), bare reader %4lu (%5.1f %%); longest silence: "
          "the window's %3.0f ms, the bare reader's %3.0f ms\n",
          spacing, bursts > 1 ? " (5 bursts)" : "", total.rows, total.logged, total.bare,
          total.bare ? 100.0 * static_cast<double>(total.rows) / total.bare : 0.0, total.silence,
          total.bareSilence);
      std::fflush(stdout);
    }
  }
  for (auto& s : spinners) ::TerminateProcess(s.get(), 0);
  (void)::RegDeleteTreeW(HKEY_CURRENT_USER, ownKey.c_str());
  std::filesystem::remove_all(std::filesystem::path(ownData), error);
}

// The list stored whole again and again (after every change) while another process copies, 1 ms
// apart: the window's longest silence, with the list's texts encoded and stored on the fold's own
// thread.
void MeasureFoldsDuringBurst(const std::vector<std::wstring>& texts) {
  const std::vector<std::wstring_view> views(texts.begin(), texts.end());
  history::SaveSetting(g_settings, L"Files", history::EncodeFiles(views));
  ForgetHistory();
  auto form = OpenForm(1);
  Pump();
  // Another process's idle window beside it: what the platform itself holds up meanwhile.
  BareReaderProcess reader;
  const HWND bareWindow = reader.window;
  // Each fold leaves a snapshot under a new name: counted from a thread of its own, as the window
  // is busy with the burst.
  volatile LONG folds = 0, watching = 1;
  std::thread counter([&] {
    std::set<std::wstring> seen;
    for (; watching; ::Sleep(1)) {
      WIN32_FIND_DATAW found{};
      const win::UniqueFind find(::FindFirstFileW((g_data + L"\\history.*.snap").c_str(), &found));
      for (bool more = static_cast<bool>(find); more; more = ::FindNextFileW(find.get(), &found))
        if (seen.insert(found.cFileName).second) ::InterlockedIncrement(&folds);
    }
  });
  double silence = 0, bareSilence = 0;
  {
    win::UniqueHandle copier = StartSelf(L"--burst 2000 1");
    Watch watch(form->hwnd(), false);
    Watch bareWatch(bareWindow, false);
    PumpUntil(
        [&] {
          return ::WaitForSingleObject(copier.get(), 0) == WAIT_OBJECT_0 &&
                 form->ListView1.ItemText(form->ListView1.Count()) == BurstEnd(1);
        },
        300000);
    silence = watch.longestSilenceMs;
    bareSilence = bareWatch.longestSilenceMs;
  }
  watching = 0;
  counter.join();
  reader.Stop();
  std::printf(
      "\n%zu entries stored whole %ld times during a burst of 2,000 copies 1 ms apart: the window's longest "
      "silence %.0f ms, an idle window's in another process %.0f ms\n",
      texts.size(), folds, silence, bareSilence);
  // The floor: the same value stored by a bare thread, with nothing else going on.
  {
    const std::wstring files = history::EncodeFiles(views);
    double set = 0, flush = 0;
    Watch idle(form->hwnd(), false);
    std::thread bare([&] {
      set = Time([&] { (void)g_settings.Save(L"Files", files); });
      flush = Time([&] { g_settings.Flush(); });
    });
    PumpUntil([&] { return set > 0 && flush > 0; }, 60000);
    bare.join();
    std::printf(
        "the same list stored by a bare thread: %.0f ms to set the value, %.0f ms to flush it; the window's "
        "longest silence meanwhile %.0f ms\n",
        set, flush, idle.longestSilenceMs);
  }
  std::fflush(stdout);
  form.reset();
  history::SaveSetting(g_settings, L"Files", L"");
}

// One Find Next over the first n texts as the window holds them, from the first row, against the
// plainest loop over the same texts: std::wstring::find on each, and with case ignored on a
// lower-case copy of each.
constexpr wchar_t kAbsent[] = L"quarterly report";
// Latin, Greek, Cyrillic, Han and Deseret, beside the accented letters and Han of the texts.
constexpr wchar_t kAbsentScripts[] =
    L"\u00C9T\u00C9 \u03A3\u039F\u03A6\u0399\u0391 \u041C\u043E\u0441\u043A\u0432\u0430 \u65E5\u672C "
    L"\U00010400";

size_t PlainFind(const std::vector<std::wstring>& texts, size_t n, const std::wstring& needle,
                 bool matchCase) {
  std::wstring lowered = needle;
  ::CharLowerBuffW(lowered.data(), static_cast<DWORD>(lowered.size()));
  for (size_t i = 0; i < n; ++i) {
    if (matchCase) {
      if (texts[i].find(needle) != std::wstring::npos) return i;
      continue;
    }
    std::wstring copy = texts[i];
    ::CharLowerBuffW(copy.data(), static_cast<DWORD>(copy.size()));
    if (copy.find(lowered) != std::wstring::npos) return i;
  }
  return SIZE_MAX;
}

size_t OurFind(const history::RowStore& rows, const std::wstring& needle, bool ignoreCase) {
  history::RowSearch search(rows, history::TextFinder(needle, ignoreCase), 0, true);
  return search.Step(SIZE_MAX) == history::RowSearch::State::Found ? search.Found() : SIZE_MAX;
}

void MeasureFind(const std::vector<std::wstring>& texts, const std::vector<size_t>& sizes, bool quick) {
  std::printf(
      "\nfind: one Find Next over every entry from the first, medians in ms: ours (plain loop, "
      "plain/ours); the plain loop lowers case one unit at a time\n");
  std::printf("%-5s %9s %9s | %-31s | %-31s | %-31s | %-31s\n", "", "entries", "text MB",
              "nothing found, case ignored", "nothing found, match case", "in the last row, case ignored",
              "several scripts, case ignored");
  for (const size_t n : sizes) {
    history::RowStore rows;
    rows.Reserve(n);
    size_t bytes = 0;
    for (size_t i = 0; i < n; ++i) {
      rows.Add(texts[i]);
      bytes += texts[i].size() * sizeof(wchar_t);
    }
    // The last row's start, which no other row holds (it begins with the row's own number).
    std::wstring last = texts[n - 1].substr(0, 12);
    ::CharUpperBuffW(last.data(), static_cast<DWORD>(last.size()));
    const struct {
      std::wstring needle;
      bool matchCase;
      size_t expected;
    } cases[] = {{kAbsent, false, SIZE_MAX},
                 {kAbsent, true, SIZE_MAX},
                 {last, false, n - 1},
                 {kAbsentScripts, false, SIZE_MAX}};
    std::string cells;
    for (const auto& c : cases) {
      std::vector<double> ours, plain;
      bool right = true;
      const int runs = quick ? 1 : 7, plainRuns = quick ? 1 : (n >= 1000000 ? 3 : 5);
      for (int run = 0; run < runs; ++run) {
        size_t found = 0;
        ours.push_back(Time([&] { found = OurFind(rows, c.needle, !c.matchCase); }));
        right = right && found == c.expected;
      }
      for (int run = 0; run < plainRuns; ++run) {
        size_t found = 0;
        plain.push_back(Time([&] { found = PlainFind(texts, n, c.needle, c.matchCase); }));
        right = right && found == c.expected;
      }
      char cell[64];
      std::snprintf(cell, sizeof(cell), "%8.2f (%9.2f x%6.1f)%s | ", Median(ours), Median(plain),
                    Median(plain) / Median(ours), right ? "" : " WRONG");
      cells += cell;
    }
    std::printf("%-5s %9zu %9.1f | %s\n", "find", n, static_cast<double>(bytes) / 1e6, cells.c_str());
    std::fflush(stdout);
  }
}

// A search through many long texts from the window itself, found nowhere: it runs in slices, and
// the window answers between them.
void MeasureFindInWindow(size_t count, size_t chars) {
  auto form = OpenForm();
  form->ListView1.Clear();  // what earlier measures left in the journal
  std::mt19937 gen(20261210);
  std::wstring text(chars, L' ');
  for (wchar_t& c : text) c = static_cast<wchar_t>(L'a' + gen() % 27);
  for (size_t i = 0; i < count; ++i) form->ListView1.AddItem(std::to_wstring(i) + text);
  form->ListView1.Refresh();
  Pump();
  double took = 0, silence = 0;
  {
    Watch watch(form->hwnd(), false);
    PumpFor(100);
    g_timersOf = form->hwnd();
    g_timers = 0;
    took = Time([&] {
      form->Find().Search(kAbsent, false, true);
      PumpUntil([&] { return !form->Find().Searching(); }, 120000);
    });
    silence = watch.longestSilenceMs;
  }
  std::printf(
      "a Find Next from the window through %zu texts of %zu characters (%.0f MB), case ignored, found "
      "nowhere: %.0f ms in %d slices; the window's longest silence meanwhile %.0f ms\n",
      count, chars, static_cast<double>(count * chars * sizeof(wchar_t)) / 1e6, took, g_timers + 1, silence);
  g_timersOf = nullptr;
  std::fflush(stdout);
  form->ListView1.Clear();
  form.reset();
}

void PrintRow(const char* label, size_t n, const Figures& s, const Figures& p) {
  const auto cell = [&](double shipped, double plainValue) {
    char buf[64];
    if (p.measured && shipped > 0) {
      std::snprintf(buf, sizeof(buf), "%9.3f (%8.3f x%6.1f)", shipped, plainValue, plainValue / shipped);
    } else {
      std::snprintf(buf, sizeof(buf), "%9.3f %21s", shipped, "");
    }
    return std::string(buf);
  };
  std::printf("%-9s %9zu | %s | %9.3f | %s | %s | %s | %s | %7.1f\n", label, n,
              cell(s.restore, p.restore).c_str(), s.readStore, cell(s.recordNew, p.recordNew).c_str(),
              cell(s.recordDup, p.recordDup).c_str(), cell(s.save, p.save).c_str(),
              cell(s.remove, p.remove).c_str(), s.bytesPerEntry);
}

}  // namespace

// A session whose list grows from nothing, 40 copies of 2 MB each: the list is written whole a
// few times as it grows, not again at every few megabytes journaled.
void MeasureGrowingSession() {
  const std::wstring folder = g_data + L"\\growing", key = L"Software\\PellucidorBench\\Growing";
  std::error_code error;
  std::filesystem::remove_all(std::filesystem::path(folder), error);
  std::filesystem::create_directories(std::filesystem::path(folder), error);
  (void)::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  {
    bool asked = false;
    history::History h(std::make_unique<history::DiskFolder>(folder),
                       std::make_unique<history::SettingsListValue>(history::Settings(key)),
                       {0, false, [&] { return asked = true; }});
    h.Load();
    std::set<std::wstring> seen;
    double written = 0, journaled = 0;
    for (int i = 0; i < 40; ++i) {
      const std::wstring text =
          std::wstring(1u << 20, static_cast<wchar_t>(L'a' + i % 26)) + std::to_wstring(i);
      journaled += static_cast<double>(text.size() * sizeof(wchar_t));
      h.Add(text);
      for (; asked; h.Work()) asked = false;
      for (const auto& f : std::filesystem::directory_iterator(std::filesystem::path(folder), error))
        if (f.path().extension() == L".snap" && seen.insert(f.path().filename().wstring()).second)
          written += static_cast<double>(f.file_size(error));
    }
    std::printf(
        "a session growing from nothing: %.0f MB journaled, the list written whole %zu times, %.0f MB "
        "in all\n",
        journaled / 1e6, seen.size(), written / 1e6);
  }
  std::filesystem::remove_all(std::filesystem::path(folder), error);
  (void)::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (argc > 2 && mode == L"--copy") return CopyText(std::wcstoul(argv[2], nullptr, 10));
  if (argc > 3 && mode == L"--burst")
    return CopyBurst(std::wcstoul(argv[2], nullptr, 10), std::wcstoul(argv[3], nullptr, 10),
                     argc > 4 ? std::wcstoul(argv[4], nullptr, 10) : 1);
  if (mode == L"--reader") return BareReader();
  if (mode == L"--spin") {
    static volatile LONG spins = 0;
    for (;;) ::InterlockedIncrement(&spins);
  }
  const bool quick = argc > 1 && std::wstring(argv[1]) == L"--quick";
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);

  const bool hugeOnly = argc > 1 && std::wstring(argv[1]) == L"--huge";
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring logFolder = std::wstring(temp) + L"pellucidor-bench";
  ::CreateDirectoryW(logFolder.c_str(), nullptr);
  ::DeleteFileW((logFolder + L"\\backups.log").c_str());
  g_log = {logFolder, logFolder + L"\\fallback"};
  g_data = logFolder;

  if (hugeOnly) {
    MeasureHugeText(4000000);
    MeasureHugeText(25000000);
    return 0;
  }
  if (mode == L"--folds") {
    TextMaker maker;
    std::vector<std::wstring> texts;
    while (texts.size() < 1000000) texts.push_back(maker.Next());
    MeasureFoldsDuringBurst(texts);
    return 0;
  }
  if (mode == L"--bursts") {
    MeasureBursts(false);
    MeasureBursts(true);
    return 0;
  }
  const std::vector<size_t> allSizes{1000, 10000, 100000, 1000000};
  if (mode == L"--find") {
    TextMaker maker;
    std::vector<std::wstring> texts;
    while (texts.size() < allSizes.back()) texts.push_back(maker.Next());
    MeasureFind(texts, allSizes, false);
    MeasureFindInWindow(48, 4000000);
    return 0;
  }
  SYSTEM_INFO si{};
  ::GetNativeSystemInfo(&si);
  std::printf(
      "Pellucidor benchmark: medians in milliseconds; (plain design, plain/shipped) where measured\n");
  std::printf(
      "%u processors; restore = what a close leaves (snapshot, journals) to window shown; record = one "
      "clipboard change incl. log line;\n"
      "bytes/entry = committed private memory after restore, beyond the entries' UTF-16 text\n\n",
      static_cast<unsigned>(si.dwNumberOfProcessors));
  std::printf("%-9s %9s | %-31s | %-9s | %-31s | %-31s | %-31s | %-31s | %s\n", "", "entries", "restore",
              "of which: read store", "record new", "record duplicate", "save", "remove middle",
              "bytes/entry");
  std::fflush(stdout);

  const std::vector<size_t> sizes = quick ? std::vector<size_t>{1000} : allSizes;
  TextMaker maker;
  std::vector<std::wstring> texts;
  struct Compaction {
    size_t entries;
    double saveMs;
    size_t listBytes;
  };
  std::vector<Compaction> compaction;
  const auto textBytes = [&](size_t n) {
    size_t bytes = 0;
    for (size_t i = 0; i < n; ++i) bytes += (texts[i].size() + 1) * sizeof(wchar_t);
    return bytes;
  };
  for (size_t n : sizes) {
    while (texts.size() < n) texts.push_back(maker.Next());
    const int runs = quick ? 1 : (n >= 1000000 ? 3 : 5);
    const int changes = quick ? 50 : 1000;
    const Figures plain =
        (!quick && n <= 10000) ? MeasurePlain(texts, runs, std::min(changes, 200)) : Figures{};
    const Figures shipped = MeasureShipped(texts, runs, changes);
    PrintRow("history", n, shipped, plain);
    compaction.push_back({n, shipped.save, textBytes(n)});
    std::fflush(stdout);
  }

  // The journal is folded into a snapshot of the list once it outgrows it (8 MB at least): one
  // save per that many journaled bytes.
  std::printf("\njournal folded into a snapshot of the list:\n");
  for (const auto& c : compaction) {
    const double threshold = static_cast<double>(history::CompactionThreshold(c.listBytes));
    const double perChange = c.saveMs * (static_cast<double>(c.listBytes) / c.entries + 14) / threshold;
    std::printf(
        "%9zu entries: a save of %.1f ms every %.0f MB journaled = %.4f ms per change of the "
        "average entry's size\n",
        c.entries, c.saveMs, threshold / 1e6, perChange);
  }
  if (!quick) MeasureGrowingSession();
  if (!quick) MeasureStartFromOutside(texts);
  if (mode == L"--history") return 0;
  MeasureFind(texts, sizes, quick);
  if (!quick) {
    MeasureFoldsDuringBurst(texts);
    MeasureFindInWindow(48, 4000000);
    std::printf("\n");
    MeasureHugeText(4000000);
    MeasureHugeText(25000000);
    MeasureBursts(false);
    MeasureBursts(true);
  }

  // Cold start with an empty history, and the CPU a running window uses while nothing happens.
  history::SaveSetting(g_settings, L"Files", L"");
  std::vector<double> cold;
  for (int run = 0; run < (quick ? 1 : 5); ++run) {
    cold.push_back(Time([] {
      auto form = OpenForm();
      Pump();
    }));
  }
  auto form = OpenForm();
  // The pointer away from the window: a tooltip that is up checks the pointer ten times a second.
  ::SetCursorPos(0, 0);
  const double settle = NowMs() + 500;
  while (NowMs() < settle) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    Pump();
  }
  FILETIME created, exited, kernel0, user0, kernel1, user1;
  Pump();
  g_pumped = 0;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel0, &user0);
  const double idleMs = quick ? 1000 : 10000;
  const double until = NowMs() + idleMs;
  while (NowMs() < until) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - NowMs()) + 1, QS_ALLINPUT);
    Pump();
  }
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel1, &user1);
  const auto ticks = [](FILETIME a, FILETIME b) {
    return static_cast<double>((static_cast<ULONGLONG>(b.dwHighDateTime) << 32 | b.dwLowDateTime) -
                               (static_cast<ULONGLONG>(a.dwHighDateTime) << 32 | a.dwLowDateTime));
  };
  const double cpuMs = (ticks(kernel0, kernel1) + ticks(user0, user1)) / 10000.0;
  std::printf("\ncold start, empty history: %.1f ms\n", Median(cold));
  std::printf("idle: %.1f ms of CPU in %.0f s with the window open (%.3f%%), %d messages (last 0x%04X)\n",
              cpuMs, idleMs / 1000, 100.0 * cpuMs / idleMs, g_pumped, g_lastPumped);
  form.reset();
  return 0;
}
