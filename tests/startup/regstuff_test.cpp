// Registry helpers and the start-up entry, always against scratch keys of the test prefix.
#include <gtest/gtest.h>

#include "startup/mstartup.h"
#include "startup/regstuff.h"
#include "startup/run_value.h"
#include "support/test_support.h"
#include "win/module.h"

namespace {

constexpr wchar_t kScratch[] = L"Software\\PellucidorTests\\Registry";
constexpr wchar_t kMachineRun[] = L"Software\\PellucidorTests\\MachineRun\\";
constexpr wchar_t kUserRun[] = L"Software\\PellucidorTests\\UserRun";
const RegStuff::RunKeys kKeys{HKEY_CURRENT_USER, kMachineRun, HKEY_CURRENT_USER, kUserRun};

std::string RawValue(const wchar_t* key, const wchar_t* name, DWORD* type = nullptr) {
  BYTE data[512];
  DWORD size = sizeof(data), t = 0;
  if (::RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY | RRF_NOEXPAND, &t, data, &size) !=
      ERROR_SUCCESS) {
    return "<absent>";
  }
  if (type) *type = t;
  return std::string(reinterpret_cast<char*>(data), size);
}

bool KeyExists(const wchar_t* key) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  ::RegCloseKey(k);
  return true;
}

void CreateKey(const wchar_t* key) {
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(k);
}

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PellucidorTests");
    CreateKey(kScratch);
  }
};

TEST_F(RegistryTest, TextValuesAreWrittenWholeWithTheirNul) {
  const struct {
    std::wstring text;
    std::wstring expected;
  } cases[] = {{L"", L""}, {L"abc", L"abc"}, {L"\u65E5\u672C caf\u00E9", L"\u65E5\u672C caf\u00E9"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(RegStuff::SetRegValue(HKEY_CURRENT_USER, kScratch, L"v", c.text, REG_SZ));
    DWORD type = 0;
    const std::string raw = RawValue(kScratch, L"v", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(raw.size(), (c.expected.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(raw.data())), c.expected);
  }
}

TEST_F(RegistryTest, AMissingKeyIsNeverCreatedAndMissingValuesDeleteQuietly) {
  const std::wstring missing = std::wstring(kScratch) + L"\\Missing";
  EXPECT_FALSE(RegStuff::SetRegValue(HKEY_CURRENT_USER, missing, L"v", std::wstring(L"x"), REG_SZ));
  EXPECT_FALSE(KeyExists(missing.c_str()));
  RegStuff::DeleteRegValue(HKEY_CURRENT_USER, kScratch, L"never there");
  RegStuff::DeleteRegValue(HKEY_CURRENT_USER, missing, L"never there");
  EXPECT_FALSE(KeyExists(missing.c_str()));
}

TEST(RunValue, PathsAreJoinedOnceAndQuotedWhenTheyHoldSpaces) {
  const struct {
    std::wstring folder, name, data;
  } cases[] = {
      {L"C:\\", L"Pellucidor.exe", L"C:\\Pellucidor.exe"},
      {L"C:\\Tools", L"Pellucidor.exe", L"C:\\Tools\\Pellucidor.exe"},
      {L"C:\\Program Files\\Kestrelay", L"Pellucidor.exe",
       L"\"C:\\Program Files\\Kestrelay\\Pellucidor.exe\""},
  };
  for (const auto& c : cases) EXPECT_EQ(startup::RunValueData(c.folder, c.name), c.data);
  EXPECT_EQ(startup::FileNameOf(L"C:\\a b\\Pellucidor.exe"), L"Pellucidor.exe");
}

TEST_F(RegistryTest, TheEntryNamesTheRunningProgram) {
  CreateKey(kMachineRun);
  // Another program in the same folder must not be the one that starts with Windows.
  const std::wstring name = startup::FileNameOf(win::ExecutablePath());
  mStartUp::AddToStartup(kKeys);
  mStartUp::AddToStartup(kKeys);
  const std::string raw = RawValue(kMachineRun, name.c_str());
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(raw.data())),
            startup::RunValueData(win::ProgramFolder(), name));
  DWORD values = 0;
  HKEY k = nullptr;
  ::RegOpenKeyExW(HKEY_CURRENT_USER, kMachineRun, 0, KEY_READ, &k);
  ::RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                     nullptr, nullptr);
  ::RegCloseKey(k);
  EXPECT_EQ(values, 1u);
  EXPECT_FALSE(KeyExists(kUserRun)) << "the per-user key is only for when the machine-wide one is closed";

  mStartUp::RemoveFromStartup(kKeys);
  EXPECT_EQ(RawValue(kMachineRun, name.c_str()), "<absent>");
}

TEST_F(RegistryTest, WithoutTheMachineWideKeyTheEntryGoesToTheUser) {
  const std::wstring name = startup::FileNameOf(win::ExecutablePath());
  mStartUp::AddToStartup(kKeys);
  EXPECT_FALSE(KeyExists(kMachineRun));
  EXPECT_NE(RawValue(kUserRun, name.c_str()), "<absent>");

  CreateKey(kMachineRun);
  RegStuff::SetRegValue(HKEY_CURRENT_USER, kMachineRun, name, std::wstring(L"old"), REG_SZ);
  mStartUp::RemoveFromStartup(kKeys);
  EXPECT_EQ(RawValue(kUserRun, name.c_str()), "<absent>");
  EXPECT_EQ(RawValue(kMachineRun, name.c_str()), "<absent>") << "removal clears both places";
}

}  // namespace
