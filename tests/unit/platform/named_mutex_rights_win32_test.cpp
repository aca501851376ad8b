// Who may use a lock on Windows: a mutex someone made first under the agent's name is used
// only when SYSTEM, Administrators or this user owns it; the agent's own are owned by this
// user and open to SYSTEM, Administrators and this user only.
#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "helper_process.h"
#include "platform/errors.h"
#include "platform/named_mutex.h"

namespace vemtu::platform {
namespace {

// The owner and DACL of the mutex behind `handle`, in the system's notation.
std::string SecurityText(HANDLE handle) {
  const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  char* text = nullptr;
  if (GetSecurityInfo(handle, SE_KERNEL_OBJECT, parts, nullptr, nullptr, nullptr, nullptr,
                      &descriptor) == ERROR_SUCCESS) {
    ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts,
                                                         &text, nullptr);
  }
  std::string result = text ? text : "";
  LocalFree(text);
  LocalFree(descriptor);
  return result;
}

TEST(NamedMutexRights, AMutexMadeFirstIsUsedOnlyWhenATrustedOwnerHasIt) {
  struct Case {
    const char* made_as;
    bool used;
  } cases[] = {
      {"O:BUD:(A;;GA;;;WD)", false},  // a user's squat, open to everyone
      {"O:WDD:(A;;GA;;;WD)", false},
      {"O:BAD:(A;;GA;;;WD)", true},   // the administration's
      {"O:SYD:(A;;GA;;;WD)", true},
      {"D:(D;;GA;;;WD)", false},      // denies everyone: cannot even be opened
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.made_as);
    const std::string name = "vemtu-squat-" + test::NewHelperToken();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.made_as, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE squat = CreateMutexA(&attributes, FALSE, name.c_str());
    LocalFree(descriptor);
    ASSERT_NE(squat, nullptr) << GetLastError();
    const std::string owner = std::string(c.made_as).substr(0, 4);
    if (owner[0] == 'O' && SecurityText(squat).rfind(owner, 0) != 0) {
      CloseHandle(squat);
      GTEST_SKIP() << "wine did not keep the owner " << owner << " a mutex was made with";
    }
    NamedMutex mutex = NamedMutex::Create(name);
    EXPECT_EQ(mutex.IsValid(), c.used);
    if (!c.used) {
      EXPECT_EQ(LastError(), ERROR_ACCESS_DENIED);
    }
    CloseHandle(squat);
  }

  // Ours: protected, owned by this user, everything for SYSTEM, Administrators and it.
  const std::string name = "vemtu-own-" + test::NewHelperToken();
  NamedMutex own = NamedMutex::Create(name);
  ASSERT_TRUE(own.IsValid());
  HANDLE opened = OpenMutexA(READ_CONTROL, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  const std::string text = SecurityText(opened);
  CloseHandle(opened);
  EXPECT_TRUE(std::regex_match(
      text, std::regex(R"(O:(S-1-[0-9-]+)D:P\(A;;(GA|0x1f0001);;;SY\)\(A;;\2;;;BA\)\(A;;\2;;;\1\))")))
      << text;
  EXPECT_TRUE(NamedMutex::Create(name).IsValid()) << "a second open of our own";
}

}  // namespace
}  // namespace vemtu::platform
#endif
