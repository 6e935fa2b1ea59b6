// What the test programs share: clipboard writes, real input, message pumping, scratch folders and
// files.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/form1.h"
#include "clip/clipboard.h"
#include "clip/mclip.h"
#include "history/files_codec.h"
#include "history/settings.h"
#include "win/module.h"
#include "win/text.h"
#include "win/unique.h"

namespace testsupport {

using Texts = std::vector<std::wstring>;

// The built Pellucidor.exe, beside the test programs' folder.
inline std::wstring PellucidorExe() {
  return win::ProgramFolder() + L"\\..\\Pellucidor.exe";
}
bool StartProcess(std::wstring commandLine, win::UniqueHandle* process = nullptr, DWORD* pid = nullptr);
// Runs xdotool's commands on the session's display, with the keyboard's focus on window. Wine starts
// Linux programs too, with no handle to wait on: wait for the effect.
void Xdotool(HWND window, const std::string& commands);

// One clipboard format: a number, a name to register, or "bitmap" (a small bitmap; no bytes).
struct Item {
  std::wstring format;
  std::string bytes;  // exactly the block, even empty: readers must not trust the platform to end it
};
inline std::string Bytes(std::wstring_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}
inline Item Text(std::wstring_view text) {
  return {L"13", Bytes(text) + std::string(2, '\0')};
}
// Puts the items on the clipboard from this thread, one change for all of them, then keeps the
// clipboard open holdMs longer, as a slow program does.
bool Copy(const std::vector<Item>& items, DWORD holdMs = 0);
// Texts "burst <first>".. one change each, spacingMs apart; with everyOtherPrivate every second one
// is "secret <n>", marked for monitors to pass over.
bool RunBurst(unsigned count, unsigned spacingMs, unsigned first, bool everyOtherPrivate = false);
inline std::wstring ClipboardText() {
  return clip::GetText().value_or(L"<none>");
}

// Waits for the condition while dispatching this thread's messages.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  for (const DWORD end = ::GetTickCount() + timeoutMs;;
       ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT)) {
    win::DoEvents();
    if (done()) return true;
    if (static_cast<int>(end - ::GetTickCount()) <= 0) return false;
  }
}

// A fresh empty folder (under base, or the temporary folder), removed with its content.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& base = L"");
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring File(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

 private:
  std::wstring path_;
};

// The 8 MB folder that `make test` mounts for the full-disk cases; nullopt where it could not.
std::optional<std::wstring> SmallDisk();
// Fills the disk that holds a folder to the last byte; returns the file that does it.
std::wstring FillDisk(const std::wstring& folder);

inline std::string ReadBytes(const std::wstring& path) {
  std::ifstream f(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
inline bool WriteBytes(const std::wstring& path, std::string_view bytes) {
  std::ofstream f(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  return f.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush().good();
}
// A registry value's text under HKEY_CURRENT_USER, "<absent>" where there is none; bytes: its size.
inline std::wstring RegText(const std::wstring& key, const std::wstring& name, DWORD* bytes = nullptr) {
  wchar_t data[512] = {};
  // As stored (RegGetValueW would add a missing NUL); the last one is kept for a value without one.
  DWORD size = sizeof(data) - sizeof(wchar_t);
  HKEY raw = nullptr;
  LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &raw);
  const win::UniqueHkey k(raw);
  if (!status)
    status =
        ::RegQueryValueExW(k.get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  if (bytes) *bytes = size;
  return status ? L"<absent>" : data;
}
// The lines of a log file (its UTF-8 mark left out), split at CR LF.
std::vector<std::string> LogLines(const std::wstring& path);
// The entry texts of a log's "was added" lines, in order.
Texts AddedInLog(const std::vector<std::string>& lines);
// Copies from a thread of its own while this one (the window's) takes no message meanwhile.
bool CopyFromAnotherThread(const std::vector<Item>& items);
// Waits, taking no message, until the window's reader has read what the clipboard holds: the
// window has then read everything copied so far but recorded none of it.
bool WaitUntilRead();

// A fresh main window in the test program, with scratch settings, journal, log folder and Run keys:
// run on a developer's own machine, the tests touch none of the program's own.
inline constexpr wchar_t kSettingsPath[] = L"Software\\PellucidorTests\\Settings";
inline constexpr wchar_t kScratchRun[] = L"Software\\PellucidorTests\\Run";

class FormTest : public testing::Test {
 protected:
  void SetUp() override {
    const INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PellucidorTests");
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kScratchRun, L"", REG_SZ, L"", 2);
  }

  void Store(const wchar_t* key, const std::wstring& value) const {
    ASSERT_TRUE(history::SaveSetting(settings_, key, value));
  }
  std::wstring Stored(const wchar_t* key) const { return history::GetSetting(settings_, key, L"<absent>"); }
  // The stored list's entries.
  Texts StoredRows() const { return history::DecodeFiles(Stored(L"Files")); }
  // The window; its files go to folder (the scratch folder unless given).
  app::Form1& Open(const std::wstring& folder = L"") {
    const std::wstring where = folder.empty() ? folder_.path() : folder;
    const RegStuff::RunKeys run{HKEY_CURRENT_USER, kScratchRun, HKEY_CURRENT_USER, kScratchRun};
    app::Form1Options options{
        [] { return 0.5; },  false,          where, run, {where, folder_.File(L"fallback")},
        settings_.keyPath(), foldAfterBytes_};
    form_ = std::make_unique<app::Form1>(std::move(options));
    EXPECT_TRUE(form_->Create(::GetModuleHandleW(nullptr)));
    return *form_;
  }
  void Close() {
    if (form_) ::SendMessageW(form_->hwnd(), WM_CLOSE, 0, 0);
    form_.reset();
  }
  std::vector<std::wstring> Rows() const {
    std::vector<std::wstring> rows;
    for (size_t i = 1; i <= form_->ListView1.Count(); ++i) rows.emplace_back(form_->ListView1.ItemText(i));
    return rows;
  }
  std::vector<std::string> LogLines() const { return testsupport::LogLines(folder_.File(L"backups.log")); }
  // Content from this thread, read as any program's; returns once the window has handled that change (one
  // newer than before it: the window's own writes after it are never "handled").
  void Copy(const std::vector<Item>& items, DWORD holdMs = 0) {
    const DWORD before = ::GetClipboardSequenceNumber();
    ASSERT_TRUE(testsupport::Copy(items, holdMs));
    ASSERT_TRUE(PumpUntil([&] { return static_cast<LONG>(mClip::HandledSequence() - before) > 0; }, 60000));
  }
  void Copy(std::wstring_view text) { Copy({Text(text)}); }

  TempFolder folder_;
  history::Settings settings_{kSettingsPath};
  uint64_t foldAfterBytes_ = 0;
  std::unique_ptr<app::Form1> form_;
};

}  // namespace testsupport
