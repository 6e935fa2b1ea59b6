// Registry helpers and the start-up entry, always against scratch keys of the test prefix.
#include <gtest/gtest.h>

#include "startup/mstartup.h"
#include "startup/regstuff.h"
#include "startup/run_value.h"
#include "support/test_support.h"
#include "win/module.h"

namespace {

using testsupport::RegText;

constexpr wchar_t kScratch[] = L"Software\\PellucidorTests\\Registry";
constexpr wchar_t kMachineRun[] = L"Software\\PellucidorTests\\MachineRun\\";
constexpr wchar_t kUserRun[] = L"Software\\PellucidorTests\\UserRun";

bool KeyExists(const std::wstring& key) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  ::RegCloseKey(k);
  return true;
}

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PellucidorTests");
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kScratch, L"", REG_SZ, L"", 2);
  }
};

TEST_F(RegistryTest, TextValuesAreWrittenWholeAndMissingKeysNeverCreated) {
  for (const std::wstring text : {L"", L"abc", L"\u65E5\u672C caf\u00E9"}) {
    ASSERT_TRUE(RegStuff::SetRegValue(HKEY_CURRENT_USER, kScratch, L"v", text, REG_SZ));
    DWORD bytes = 0;
    EXPECT_EQ(RegText(kScratch, L"v", &bytes), text);
    EXPECT_EQ(bytes, (text.size() + 1) * sizeof(wchar_t)) << "with its NUL";
  }
  const std::wstring missing = std::wstring(kScratch) + L"\\Missing";
  EXPECT_FALSE(RegStuff::SetRegValue(HKEY_CURRENT_USER, missing, L"v", std::wstring(L"x"), REG_SZ));
  RegStuff::DeleteRegValue(HKEY_CURRENT_USER, kScratch, L"never there");
  RegStuff::DeleteRegValue(HKEY_CURRENT_USER, missing, L"never there");
  EXPECT_FALSE(KeyExists(missing));
}

TEST(RunValue, PathsAreJoinedOnceAndQuotedWhenTheyHoldSpaces) {
  EXPECT_EQ(startup::RunValueData(L"C:\\", L"Pellucidor.exe"), L"C:\\Pellucidor.exe");
  EXPECT_EQ(startup::RunValueData(L"C:\\Tools", L"Pellucidor.exe"), L"C:\\Tools\\Pellucidor.exe");
  EXPECT_EQ(startup::RunValueData(L"C:\\Program Files\\Kestrelay", L"P.exe"),
            L"\"C:\\Program Files\\Kestrelay\\P.exe\"");
  EXPECT_EQ(startup::FileNameOf(L"C:\\a b\\Pellucidor.exe"), L"Pellucidor.exe");
}

// The entry goes to the machine-wide key when it is open, else to the user's; removal clears both.
TEST_F(RegistryTest, TheEntryGoesWhereItCanAndRemovalClearsBoth) {
  const RegStuff::RunKeys keys{HKEY_CURRENT_USER, kMachineRun, HKEY_CURRENT_USER, kUserRun};
  const std::wstring name = startup::FileNameOf(win::ExecutablePath());
  const std::wstring data = startup::RunValueData(win::ProgramFolder(), name);
  mStartUp::AddToStartup(keys);
  EXPECT_FALSE(KeyExists(kMachineRun));
  EXPECT_EQ(RegText(kUserRun, name), data);
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kMachineRun, L"", REG_SZ, L"", 2);
  mStartUp::RemoveFromStartup(keys);
  EXPECT_EQ(RegText(kUserRun, name), L"<absent>");
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kUserRun);
  mStartUp::AddToStartup(keys);
  mStartUp::AddToStartup(keys);
  EXPECT_EQ(RegText(kMachineRun, name), data);
  EXPECT_FALSE(KeyExists(kUserRun)) << "the per-user key is only for when the machine-wide one is closed";
  RegStuff::SetRegValue(HKEY_CURRENT_USER, kUserRun, name, std::wstring(L"old"), REG_SZ);
  mStartUp::RemoveFromStartup(keys);
  EXPECT_EQ(RegText(kMachineRun, name) + RegText(kUserRun, name), L"<absent><absent>");
}

}  // namespace
