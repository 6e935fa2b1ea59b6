// A fresh main window in the test program, with scratch settings, journal, log folder and Run keys.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/form1.h"
#include "clip/mclip.h"
#include "history/settings.h"
#include "support/test_support.h"

namespace testsupport {

inline const std::wstring kSettingsPath = app::SettingsKeyPath(app::kSettingsApp, app::kSettingsSection);
inline constexpr wchar_t kScratchRun[] = L"Software\\PellucidorTests\\Run";

class FormTest : public testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsPath.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PellucidorTests");
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kScratchRun, L"", REG_SZ, L"", 2);
  }
  void TearDown() override { form_.reset(); }

  static void Store(const wchar_t* key, const std::wstring& value) {
    ASSERT_TRUE(app::SaveSetting(app::kSettingsApp, app::kSettingsSection, key, value));
  }
  static std::wstring Stored(const wchar_t* key) {
    return app::GetSetting(app::kSettingsApp, app::kSettingsSection, key, L"<absent>");
  }
  // The window; its files go to folder (the scratch folder unless given).
  app::Form1& Open(const std::wstring& folder = L"") {
    const std::wstring where = folder.empty() ? folder_.path() : folder;
    form_ = std::make_unique<app::Form1>(
        app::Form1Options{[] { return 0.5; },
                          false,
                          where + L"\\history.journal",
                          {HKEY_CURRENT_USER, kScratchRun, HKEY_CURRENT_USER, kScratchRun},
                          {where, folder_.File(L"fallback")}});
    EXPECT_TRUE(form_->Create(::GetModuleHandleW(nullptr)));
    return *form_;
  }
  void Close() {
    if (!form_) return;
    ::SendMessageW(form_->hwnd(), WM_CLOSE, 0, 0);
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
    ASSERT_TRUE(PumpUntil([&] { return static_cast<LONG>(mClip::HandledSequence() - before) > 0; }));
  }
  void Copy(std::wstring_view text) { Copy({Text(text)}); }

  TempFolder folder_;
  std::unique_ptr<app::Form1> form_;
};

}  // namespace testsupport
