// The built Pellucidor.exe as Windows reads it before any of its code runs.

#include <regex>

#include "support/test_support.h"

namespace {

// Windows refuses to start a program whose manifest names another processor than the program's
// own (Wine starts it, with the old common controls): the program itself and the common controls
// it depends on name its own, or any.
TEST(Executable, TheManifestNamesTheProgramsOwnProcessor) {
  const std::wstring exe = testsupport::PellucidorExe();
  DWORD kind = 0;
  ASSERT_TRUE(::GetBinaryTypeW(exe.c_str(), &kind));
  const std::string own = kind == SCS_64BIT_BINARY ? "amd64" : "x86";
  const win::UniqueHmodule module(
      ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(module);
  const HRSRC found = ::FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_TRUE(found);
  const std::string manifest(static_cast<const char*>(::LockResource(::LoadResource(module.get(), found))),
                             ::SizeofResource(module.get(), found));
  const std::regex architecture(R"(processorArchitecture\s*=\s*"([^"]*)\")");
  std::vector<std::string> named;
  for (std::sregex_iterator it(manifest.begin(), manifest.end(), architecture), end; it != end; ++it)
    named.push_back((*it)[1]);
  ASSERT_EQ(named.size(), 2u) << "the program's and the common controls': " << manifest;
  for (const std::string& name : named) EXPECT_TRUE(name == own || name == "*") << name << ", not " << own;
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
}

}  // namespace
