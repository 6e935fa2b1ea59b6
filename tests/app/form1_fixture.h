// A fresh main window in this process, with scratch settings, log folder and Run keys.
#pragma once

#include <gtest/gtest.h>

#include "app/files_codec.h"
#include "app/form1.h"
#include "app/settings.h"
#include "clip/save_log.h"
#include "startup/regstuff.h"
#include "support/test_support.h"

namespace testsupport {

inline const std::wstring kSettingsPath = app::SettingsKeyPath(app::kSettingsApp, app::kSettingsSection);
inline constexpr wchar_t kScratchRun[] = L"Software\\PellucidorTests\\Run";

class Form1Test : public testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsPath.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratchRun);
    HKEY k = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, kScratchRun, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    ::RegCloseKey(k);
    RegStuff::SetRunKeysForTesting({HKEY_CURRENT_USER, kScratchRun, HKEY_CURRENT_USER, kScratchRun});
    clip::SetLogLocationsForTesting({folder_.path(), folder_.File(L"fallback")});
  }
  void TearDown() override {
    form_.reset();
    clip::SetLogLocationsForTesting({});
    RegStuff::SetRunKeysForTesting({});
  }

  static void Store(const wchar_t* key, const std::wstring& value) {
    ASSERT_TRUE(app::SaveSetting(app::kSettingsApp, app::kSettingsSection, key, value));
  }
  static std::wstring Stored(const wchar_t* key) {
    return app::GetSetting(app::kSettingsApp, app::kSettingsSection, key, L"<absent>");
  }
  app::Form1& Open() {
    form_ = std::make_unique<app::Form1>(
        app::Form1Options{[] { return 0.5; }, false, folder_.File(L"history.journal")});
    EXPECT_TRUE(form_->Create(::GetModuleHandleW(nullptr)));
    return *form_;
  }
  void Close() {
    ::SendMessageW(form_->hwnd(), WM_CLOSE, 0, 0);
    form_.reset();
  }
  std::vector<std::wstring> Rows() const {
    std::vector<std::wstring> rows;
    for (size_t i = 1; i <= form_->ListView1.Count(); ++i) rows.emplace_back(form_->ListView1.ItemText(i));
    return rows;
  }

  TempFolder folder_;
  std::unique_ptr<app::Form1> form_;
};

}  // namespace testsupport
