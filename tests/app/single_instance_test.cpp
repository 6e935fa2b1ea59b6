// One copy at a time: a second start finds the first one's mutex, also one it may not open.

#include <aclapi.h>

#include "app/single_instance.h"
#include "support/test_support.h"

namespace {

constexpr wchar_t kScratchMutex[] = L"Local\\PellucidorTests.Running";

// The mutex as a copy started elevated leaves it to a copy at normal rights: its access list lets
// nobody open it.
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
  win::UniqueHandle first, second;
  ASSERT_TRUE(app::ClaimSingleInstance(first, kScratchMutex));
  EXPECT_FALSE(app::ClaimSingleInstance(second, kScratchMutex)) << "a copy at the same rights runs";
  first.reset();
  const win::UniqueHandle elevated = UnopenableMutex();
  ASSERT_TRUE(elevated);
  EXPECT_FALSE(app::ClaimSingleInstance(second, kScratchMutex)) << "a copy started elevated runs";
  EXPECT_FALSE(second);
}

}  // namespace
