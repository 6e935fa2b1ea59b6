// User journeys with the real Pellucidor.exe, driven from outside as a user would: started from its
// own folder, its window closed or the process killed.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <set>
#include <thread>

#include "history/files_codec.h"
#include "history/disk_io.h"
#include "support/test_support.h"
#include "tray/notify_record.h"
#include "win/system_program.h"

namespace {

// The top-level window of a class that belongs to a process.
inline HWND FindProcessWindow(DWORD pid, const wchar_t* className) {
  for (HWND h = nullptr; (h = ::FindWindowExW(nullptr, h, className, nullptr)) != nullptr;) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(h, &owner);
    if (owner == pid) return h;
  }
  return nullptr;
}

class Pellucidor {
 public:
  // Copies the built executable into folder (once) and starts it from there.
  explicit Pellucidor(const std::wstring& folder) : exe_(folder + L"\\Pellucidor.exe") {
    ::CopyFileW(testsupport::PellucidorExe().c_str(), exe_.c_str(), TRUE);
  }
  ~Pellucidor() {
    if (Running() && Close() == STILL_ACTIVE) Kill();
  }

  // Started, with its window ready: start-up ends with joining the viewer chain, then the window
  // takes messages.
  bool Start() {
    if (!testsupport::StartProcess(L"\"" + exe_ + L"\"", &process_, &pid_)) return false;
    const bool ready = testsupport::PumpUntil(
        [&] {
          return ((hwnd_ = FindProcessWindow(pid_, app::kFormClass)) && ::GetClipboardViewer() == hwnd_) ||
                 !Running();
        },
        20000);
    DWORD code = 0;  // a copy that gave way to a running one ends with 0; anything else is a fault
    if (::GetExitCodeProcess(process_.get(), &code) && code != STILL_ACTIVE && code != 0)
      std::printf("ended at start with 0x%lx\n", code);
    DWORD_PTR ignored = 0;
    return ready && Running() && ::SendMessageTimeoutW(hwnd_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
  }
  // Asks the window to close and waits for the process to end; returns its exit code.
  DWORD Close() {
    ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(process_.get(), 15000);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
  }
  void Kill() {
    ::TerminateProcess(process_.get(), 99);
    ::WaitForSingleObject(process_.get(), 5000);
  }
  bool Running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  HWND hwnd() const { return hwnd_; }
  DWORD pid() const { return pid_; }
  size_t Count() const { return ::SendMessageW(::GetDlgItem(hwnd_, 101), LVM_GETITEMCOUNT, 0, 0); }
  // Releases the right button on the tray icon, as the shell reports it; the menu it opens, or null.
  HWND OpenTrayMenu() const {
    ::PostMessageW(FindProcessWindow(pid_, L"PellucidorTrayControl"), tray::kTrayCallbackMessage, 0,
                   WM_RBUTTONUP);
    HWND menu = nullptr;
    (void)testsupport::PumpUntil(
        [&] { return (menu = FindProcessWindow(pid_, L"#32768")) && ::IsWindowVisible(menu); });
    return menu;
  }

 private:
  std::wstring exe_;
  win::UniqueHandle process_;
  DWORD pid_ = 0;
  HWND hwnd_ = nullptr;
};

using namespace testsupport;

// The real program keeps its list where it always does: the user's own settings and journal are
// put aside for the test and back afterwards, also after a test run that was cut short.
class Journey : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    settings_ = history::Settings();
    // A run cut short kept the user's own aside, and the program has been used since: neither is
    // replaced by the other.
    putBack_ = !(Key(kAside, false) && Key(settings_.keyPath(), false));
    if (!putBack_)
      GTEST_SKIP() << "settings kept aside under HKCU\\Software\\PellucidorTestsAside by an earlier run, "
                      "and settings of the program's own: resolve by hand";
    PutBack();  // what a run cut short kept aside
    const win::UniqueHkey aside = Key(kAside, true);
    ASSERT_TRUE(aside);
    ASSERT_NE(::RegCopyTreeW(HKEY_CURRENT_USER, settings_.keyPath().c_str(), aside.get()),
              ERROR_ACCESS_DENIED);
    (void)::RegDeleteTreeW(HKEY_CURRENT_USER, settings_.keyPath().c_str());
    (void)::MoveFileW(data_.c_str(), (data_ + L".aside").c_str());
  }
  void TearDown() override {
    if (putBack_) PutBack();
  }
  static win::UniqueHkey Key(const std::wstring& path, bool create) {
    HKEY key = nullptr;
    (void)(create ? ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &key, nullptr)
                  : ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key));
    return win::UniqueHkey(key);
  }
  // Whatever a test left goes; what was there before it comes back.
  void PutBack() const {
    const win::UniqueHkey aside = Key(kAside, false);
    if (!aside) return;
    (void)::RegDeleteTreeW(HKEY_CURRENT_USER, settings_.keyPath().c_str());
    const win::UniqueHkey own = Key(settings_.keyPath(), true);
    if (!own || ::RegCopyTreeW(aside.get(), nullptr, own.get())) return;  // kept aside for the next run
    (void)::RegDeleteTreeW(HKEY_CURRENT_USER, kAside);
    std::error_code error;
    std::filesystem::remove_all(data_, error);
    (void)::MoveFileW((data_ + L".aside").c_str(), data_.c_str());
  }
  static constexpr wchar_t kAside[] = L"Software\\PellucidorTestsAside";
  bool putBack_ = true;
  const std::wstring data_ = history::DefaultDataFolder();  // the history's files
};

// Killed at random moments while copies come, the program comes back every time with every entry
// its log says it added, each once.
TEST_F(Journey, KilledAnywhereItKeepsEveryEntryItLogged) {
  const char* stress = std::getenv("PELLUCIDOR_KILLS");
  const int kills = stress ? std::atoi(stress) : 3;
  const unsigned seed = ::GetTickCount();
  std::printf("kill moments from seed %u\n", seed);
  std::mt19937 gen(seed);
  for (int round = 0; round < kills; ++round) {
    Pellucidor p(folder_.path());
    ASSERT_TRUE(p.Start());
    // Killed once a random number of this burst's copies is listed, or when the burst is over.
    const size_t killAt = p.Count() + std::uniform_int_distribution<size_t>(1, 60)(gen);
    std::atomic<bool> copied{false};
    std::thread copier([&] { copied = RunBurst(300, 2, 300u * round + 1) || true; });
    (void)PumpUntil([&] { return p.Count() >= killAt || copied; }, 120000);
    p.Kill();
    copier.join();
  }
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  EXPECT_EQ(p.Close(), 0u);  // stores the list as it was brought back
  std::multiset<std::wstring> listed;
  for (const std::wstring& t : StoredRows()) listed.insert(t);
  for (const std::wstring& text : AddedInLog(testsupport::LogLines(folder_.File(L"backups.log"))))
    EXPECT_EQ(listed.count(text), 1u) << text << " logged, not listed once";
  EXPECT_FALSE(listed.empty());
}

// A copy whose program puts its text on the clipboard only when a reader asks for it, half a
// second later, and asks the reader's window something meanwhile (as a program may: its title, a
// message passed down a chain), waiting four seconds at most for the answer.
struct LateCopy {
  std::wstring text;
  HWND asks = nullptr;
  std::atomic<bool> asked{false}, answered{false}, done{false};
  void Run() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = L"PellucidorTestsLateCopy";
    (void)::RegisterClassW(&wc);
    const win::UniqueHwnd owner(
        ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    ::SetWindowLongPtrW(owner.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (const clip::ClipboardSession open(owner.get()); open.IsOpen() && ::EmptyClipboard())
      (void)::SetClipboardData(CF_UNICODETEXT, nullptr);
    (void)PumpUntil([&] { return done.load(); }, 60000);
  }
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<LateCopy*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
    if (msg != WM_RENDERFORMAT) return ::DefWindowProcW(h, msg, w, l);
    self->asked = true;
    ::Sleep(500);
    DWORD_PTR answer = 0;
    self->answered = ::SendMessageTimeoutW(self->asks, WM_NULL, 0, 0, SMTO_NORMAL, 4000, &answer) != 0;
    const size_t bytes = (self->text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    std::memcpy(::GlobalLock(block), self->text.c_str(), bytes);
    ::GlobalUnlock(block);
    (void)::SetClipboardData(CF_UNICODETEXT, block);
    return 0;
  }
};

// Closed, or its session ended by another process (which then ends it), right after a burst of
// copies 1 ms apart, while the window still records them and reads a last copy whose program is
// slow to give it: the next start lists that copy, and every copy the log says was added.
TEST_F(Journey, ClosedOrLoggedOffRightAfterABurstItKeepsTheCopyOnTheClipboard) {
  unsigned first = 1;
  for (const bool logOff : {false, true}) {
    SCOPED_TRACE(logOff ? "log-off" : "close");
    Pellucidor p(folder_.path());
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(RunBurst(300, 1, first));
    LateCopy last{L"late " + std::to_wstring(first += 300), p.hwnd()};
    std::thread owner([&] { last.Run(); });
    EXPECT_TRUE(PumpUntil([&] { return last.asked.load(); }));
    if (logOff) {
      EXPECT_TRUE(::SendMessageW(p.hwnd(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF));
      ::SendMessageW(p.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
      p.Kill();
    } else {
      EXPECT_EQ(p.Close(), 0u);
    }
    last.done = true;
    owner.join();
    EXPECT_TRUE(last.answered) << "the window answers while it waits for its reader";
    ASSERT_TRUE(p.Start());
    EXPECT_EQ(p.Close(), 0u);
    const Texts rows = StoredRows();
    for (const std::wstring& text : AddedInLog(testsupport::LogLines(folder_.File(L"backups.log"))))
      EXPECT_NE(std::find(rows.begin(), rows.end(), text), rows.end()) << text << " logged, not listed";
    EXPECT_EQ(rows.back(), last.text);
  }
}

// A notepad.exe beside the program is never started (this one is Pellucidor itself, which would
// open no log): the system's Notepad opens the log.
TEST_F(Journey, ViewSaveLogOpensTheLogInTheSystemsNotepadNotOneBesideTheProgram) {
  ASSERT_TRUE(::CopyFileW(PellucidorExe().c_str(), folder_.File(L"notepad.exe").c_str(), FALSE));
  ASSERT_TRUE(WriteBytes(folder_.File(L"backups.log"), "logged\r\n"));
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  ::SendMessageW(::GetDlgItem(p.hwnd(), 103), BM_CLICK, 0, 0);  // View Save Log
  HWND notepad = nullptr;
  wchar_t text[MAX_PATH] = {};  // its title, then its program's path
  ASSERT_TRUE(PumpUntil(
      [&] {
        return ::GetWindowTextW(notepad = ::FindWindowW(L"Notepad", nullptr), text, MAX_PATH) &&
               std::wcsstr(_wcslwr(text), L"backups.log");
      },
      30000));
  DWORD pid = 0, n = MAX_PATH;
  ::GetWindowThreadProcessId(notepad, &pid);
  win::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
  ::QueryFullProcessImageNameW(process.get(), 0, text, &n);
  ::TerminateProcess(process.get(), 0);
  EXPECT_EQ(_wcsicmp(text, win::SystemProgramPath(L"notepad.exe").c_str()), 0) << text;
}

// Hidden in the tray, the window comes back when the program is started again (the second copy
// ends at once), or with the tray icon's menu: its first item shows the window; its second pauses
// the recording, and the tip says so, until chosen again: what was copied meanwhile is never
// recorded, also not when the pause ends with it on the clipboard. Its last item ends the program
// as closing does.
TEST_F(Journey, ASecondStartOrTheTrayMenuShowsTheWindowAndTheMenuPausesAndExits) {
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  ASSERT_TRUE(testsupport::Copy({Text(L"kept")}));
  ASSERT_TRUE(PumpUntil([&] { return p.Count() == 1; }));
  const auto hidden = [&] { return !::IsWindowVisible(p.hwnd()); };
  for (const bool again : {true, false}) {
    ::ShowWindow(p.hwnd(), SW_MINIMIZE);
    ASSERT_TRUE(PumpUntil(hidden));
    if (again) {
      EXPECT_FALSE(Pellucidor(folder_.path()).Start()) << "the second copy opens no window of its own";
      EXPECT_TRUE(PumpUntil([&] { return !hidden(); }));
    }
  }
  // Keys that reach the menu before it has the keyboard (a busy machine) are lost: the menu is
  // opened and the keys pressed again until the item has acted, a few times at most.
  const auto choose = [&](const char* keys, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 4 && !done(); ++attempt) {
      HWND menu = FindProcessWindow(p.pid(), L"#32768");
      if (!menu || !::IsWindowVisible(menu)) menu = p.OpenTrayMenu();
      if (menu) Xdotool(menu, std::string("key ") + keys);
      if (PumpUntil(done)) return true;
    }
    return done();
  };
  EXPECT_TRUE(choose("Down Return", [&] { return !hidden(); }));
  const auto tip = [&p](const wchar_t* expected) {
    return [&p, expected] {
      wchar_t text[64] = {};
      ::GetWindowTextW(FindProcessWindow(p.pid(), L"PellucidorTrayControl"), text, 64);
      return std::wstring(text) == expected;
    };
  };
  ASSERT_TRUE(choose("Down Down Return", tip(L"Pellucidor (paused)")));
  ASSERT_TRUE(testsupport::Copy({Text(L"private")}));
  ASSERT_TRUE(choose("Down Down Return", tip(L"Pellucidor")));
  ASSERT_TRUE(testsupport::Copy({Text(L"after")}));
  ASSERT_TRUE(PumpUntil([&] { return p.Count() == 2; }));
  EXPECT_TRUE(choose("Up Return", [&] { return !p.Running(); }));
  EXPECT_EQ(p.Close(), 0u);
  EXPECT_EQ(StoredRows(), (Texts{L"kept", L"after"}));
  EXPECT_EQ(AddedInLog(LogLines()), (Texts{L"kept", L"after"}));
}

}  // namespace
