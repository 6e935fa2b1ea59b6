// One copy at a time: a second start finds the first one's mutex, also one it may not open.

#include <aclapi.h>

#include "app/single_instance.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t kScratchMutex[] = L"Local\\PellucidorTests.Running";

// A mutex as a copy started elevated leaves it to a copy at normal rights: one that its access
// list lets nobody open.
win::UniqueHandle UnopenableMutex() {
  SECURITY_DESCRIPTOR descriptor;
  ACL acl;
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::InitializeAcl(&acl, sizeof(acl), ACL_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  return win::UniqueHandle(::CreateMutexW(&attributes, FALSE, kScratchMutex));
}

TEST(SingleInstance, AnotherCopysMutexKeepsTheProgramFromRunningEvenOneItMayNotOpen) {
  const struct {
    const char* held_by;
    std::function<win::UniqueHandle()> other;
    bool runs;
  } cases[] = {
      {"nobody", [] { return win::UniqueHandle(); }, true},
      {"a copy at the same rights",
       [] { return win::UniqueHandle(::CreateMutexW(nullptr, FALSE, kScratchMutex)); }, false},
      {"a copy started elevated", UnopenableMutex, false},
  };
  for (const auto& c : cases) {
    const win::UniqueHandle other = c.other();
    win::UniqueHandle held;
    EXPECT_EQ(app::ClaimSingleInstance(held, kScratchMutex), c.runs) << c.held_by;
    EXPECT_EQ(static_cast<bool>(held), c.runs) << c.held_by;
  }
  win::UniqueHandle first, second;
  ASSERT_TRUE(app::ClaimSingleInstance(first, kScratchMutex));
  EXPECT_FALSE(app::ClaimSingleInstance(second, kScratchMutex));
  first.reset();
  EXPECT_TRUE(app::ClaimSingleInstance(second, kScratchMutex)) << "the claim ends with its copy";
}

}  // namespace
