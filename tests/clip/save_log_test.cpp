// The save log: exact bytes, encodings old and new, the fallback folder and failures that stop nothing.
#include <gtest/gtest.h>

#include "clip/save_log.h"
#include "support/test_support.h"

namespace {

using testsupport::ReadBytes;

class SaveLogTest : public testing::Test {
 protected:
  std::wstring LogFile() const { return folder_.File(L"backups.log"); }
  testsupport::TempFolder folder_;
  clip::LogLocations where_{folder_.path(), folder_.File(L"fallback")};
};

TEST_F(SaveLogTest, ANewLogIsUtf8WithItsMarkAndCrLfLines) {
  ASSERT_TRUE(clip::WriteLogLine(L"hello was added to clipboard entries at 12/6/2026 3:21:07 AM", where_));
  ASSERT_TRUE(clip::WriteLogLine(L"two\r\nlines \u65E5", where_));
  ASSERT_TRUE(clip::WriteLogLine(L" was added to clipboard entries at 12/6/2026", where_));
  EXPECT_EQ(ReadBytes(LogFile()),
            "\xEF\xBB\xBFhello was added to clipboard entries at 12/6/2026 3:21:07 AM\r\n"
            "two\r\nlines \xE6\x97\xA5\r\n"
            " was added to clipboard entries at 12/6/2026\r\n");
}

TEST_F(SaveLogTest, AnOldLogWithoutTheMarkIsContinuedInAnsi) {
  ASSERT_TRUE(testsupport::WriteBytes(LogFile(), "old line\r\n"));
  ASSERT_TRUE(clip::WriteLogLine(L"caf\u00E9", where_));
  EXPECT_EQ(ReadBytes(LogFile()), "old line\r\ncaf\xE9\r\n");
}

TEST_F(SaveLogTest, AnUnwritableFolderSendsTheLogToTheFallback) {
  // A program folder that cannot hold files: its path runs through a file.
  ASSERT_TRUE(testsupport::WriteBytes(folder_.File(L"not-a-folder"), "x"));
  where_ = {folder_.File(L"not-a-folder"), folder_.File(L"fallback\\deeper")};
  EXPECT_EQ(clip::LogPathInUse(where_), folder_.File(L"fallback\\deeper\\backups.log"));
  ASSERT_TRUE(clip::WriteLogLine(L"kept", where_));
  EXPECT_EQ(ReadBytes(folder_.File(L"fallback\\deeper\\backups.log")), "\xEF\xBB\xBFkept\r\n");
}

TEST_F(SaveLogTest, TheLogInUseIsFoundWithoutCreatingIt) {
  EXPECT_EQ(clip::LogPathInUse(where_), LogFile());
  EXPECT_EQ(::GetFileAttributesW(LogFile().c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
