// The platform the other tests stand on: Wine's clipboard-viewer chain and our Win32 helpers.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "win/module.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

int g_drawCount = 0;

LRESULT CALLBACK CountingViewer(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_DRAWCLIPBOARD) ++g_drawCount;
  return ::DefWindowProcW(h, msg, w, l);
}

TEST(Platform, ViewerHearsAnotherProcessCopy) {
  const win::UniqueHwnd viewer = testsupport::WindowOfProc(L"PlatformTestViewer", CountingViewer);
  ASSERT_TRUE(viewer);
  HWND next = ::SetClipboardViewer(viewer.get());
  const int afterJoin = g_drawCount;
  EXPECT_GE(afterJoin, 1) << "joining the chain announces the current content at once";

  ASSERT_TRUE(testsupport::ClipboardFromOtherProcess({L"text=" + testsupport::Hex(L"hello")}));
  EXPECT_TRUE(testsupport::PumpUntil([&] { return g_drawCount > afterJoin; }));
  EXPECT_EQ(testsupport::ClipboardText(), L"hello");
  ::ChangeClipboardChain(viewer.get(), next);
}

TEST(Platform, ProgramFolderHasNoTrailingBackslash) {
  const std::wstring folder = win::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), L'\\');
  EXPECT_EQ(win::ExecutablePath().rfind(folder + L"\\", 0), 0u);
}

}  // namespace
