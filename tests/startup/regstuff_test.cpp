// Registry helpers and the start-up entry, always against scratch keys of the test prefix.

#include "startup/mstartup.h"
#include "startup/regstuff.h"
#include "startup/run_value.h"
#include "support/test_support.h"

namespace {

using testsupport::RegText;

constexpr wchar_t kMachineRun[] = L"Software\\PellucidorTests\\MachineRun\\";
constexpr wchar_t kUserRun[] = L"Software\\PellucidorTests\\UserRun";

using RegistryTest = testsupport::FormTest;  // for its scratch keys

TEST(RunValue, PathsAreJoinedOnceAndQuotedWhenTheyHoldSpaces) {
  EXPECT_EQ(startup::RunValueData(L"C:\\", L"Pellucidor.exe"), L"C:\\Pellucidor.exe");
  EXPECT_EQ(startup::FileNameOf(L"C:\\a b\\P.exe"), L"P.exe");
  EXPECT_EQ(startup::RunValueData(L"C:\\Tools", L"Pellucidor.exe"), L"C:\\Tools\\Pellucidor.exe");
  EXPECT_EQ(startup::RunValueData(L"C:\\Program Files\\Kestrelay", L"P.exe"),
            L"\"C:\\Program Files\\Kestrelay\\P.exe\"");
}

// The entry goes to the machine-wide key when it is open, else to the user's, whole with its NUL;
// removal clears both places and creates no key.
TEST_F(RegistryTest, TheEntryGoesWhereItCanAndRemovalClearsBoth) {
  const RegStuff::RunKeys keys{HKEY_CURRENT_USER, kMachineRun, HKEY_CURRENT_USER, kUserRun};
  // Whether a key exists; it does not afterwards.
  const auto KeyExisted = [](const wchar_t* key) { return !::RegDeleteKeyW(HKEY_CURRENT_USER, key); };
  const std::wstring name = startup::FileNameOf(win::ExecutablePath());
  const std::wstring data = startup::RunValueData(win::ProgramFolder(), name);
  mStartUp::AddToStartup(keys);
  EXPECT_FALSE(KeyExisted(kMachineRun));
  EXPECT_EQ(RegText(kUserRun, name), data);
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kMachineRun, L"", REG_SZ, L"", 2);
  mStartUp::RemoveFromStartup(keys);
  EXPECT_EQ(RegText(kUserRun, name), L"<absent>");
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kUserRun);
  mStartUp::AddToStartup(keys);
  mStartUp::AddToStartup(keys);
  DWORD bytes = 0;
  EXPECT_EQ(RegText(kMachineRun, name, &bytes), data);
  EXPECT_EQ(bytes, (data.size() + 1) * sizeof(wchar_t)) << "with its NUL";
  mStartUp::RemoveFromStartup(keys);
  EXPECT_FALSE(KeyExisted(kUserRun));
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kUserRun, name.c_str(), REG_SZ, L"old", 8);
  mStartUp::AddToStartup(keys);
  mStartUp::RemoveFromStartup(keys);
  EXPECT_EQ(RegText(kMachineRun, name) + RegText(kUserRun, name), L"<absent><absent>");
}

}  // namespace
