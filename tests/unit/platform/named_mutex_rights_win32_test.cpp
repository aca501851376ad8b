// Who may use a lock on Windows: a mutex that someone else made first under the agent's
// name is used only when the system's administration or this user owns it; the agent's
// own carry a DACL of SYSTEM, Administrators and this user.
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

// A mutex made in advance with the security `sddl`; null when the system refused it.
HANDLE MadeInAdvance(const std::string& name, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE handle = CreateMutexA(&attributes, FALSE, name.c_str());
  LocalFree(descriptor);
  return handle;
}

// The owner and DACL of the mutex behind `handle`, in the system's notation.
std::string SecurityText(HANDLE handle) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetSecurityInfo(handle, SE_KERNEL_OBJECT, parts, nullptr, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return "";
  }
  char* text = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &text,
                                                       nullptr);
  std::string result = text ? text : "";
  LocalFree(text);
  LocalFree(descriptor);
  return result;
}

TEST(NamedMutexRights, AMutexMadeFirstIsUsedOnlyWhenATrustedOwnerHasIt) {
  struct Case {
    const char* made_as;
    const char* owner;  // as the system spells it back
    bool used;
  } cases[] = {
      {"O:BUD:(A;;GA;;;WD)", "O:BU", false},  // a user's squat, open to everyone
      {"O:WDD:(A;;GA;;;WD)", "O:WD", false},
      {"O:BAD:(A;;GA;;;WD)", "O:BA", true},   // the administration's
      {"O:SYD:(A;;GA;;;WD)", "O:SY", true},
      {"D:(D;;GA;;;WD)", nullptr, false},     // denies everyone: cannot even be opened
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.made_as);
    const std::string name = "vemtu-squat-" + test::NewHelperToken();
    HANDLE squat = MadeInAdvance(name, c.made_as);
    ASSERT_NE(squat, nullptr) << GetLastError();
    if (c.owner != nullptr && SecurityText(squat).rfind(c.owner, 0) != 0) {
      CloseHandle(squat);
      GTEST_SKIP() << "wine does not keep the owner a mutex was made with ("
                   << SecurityText(squat) << "), so a squat of another owner cannot be made";
    }
    NamedMutex mutex = NamedMutex::Create(name);
    EXPECT_EQ(mutex.IsValid(), c.used);
    if (!c.used) {
      EXPECT_EQ(LastError(), ERROR_ACCESS_DENIED);
    }
    CloseHandle(squat);
  }
}

TEST(NamedMutexRights, OwnMutexesGiveSystemAdministratorsAndThisUserFullAccessOnly) {
  const std::string name = "vemtu-own-" + test::NewHelperToken();
  NamedMutex mutex = NamedMutex::Create(name);
  ASSERT_TRUE(mutex.IsValid());
  HANDLE opened = OpenMutexA(READ_CONTROL, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  std::string text = SecurityText(opened);
  CloseHandle(opened);
  // Owned by this user; protected, three grants of everything: SYSTEM, Administrators and
  // this user.
  std::regex expected(
      R"(O:(S-1-[0-9-]+)D:P\(A;;(GA|0x1f0001);;;SY\)\(A;;\2;;;BA\)\(A;;\2;;;\1\))");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
  // A second open of our own is used.
  EXPECT_TRUE(NamedMutex::Create(name).IsValid()) << text;
}

}  // namespace
}  // namespace vemtu::platform
#endif
