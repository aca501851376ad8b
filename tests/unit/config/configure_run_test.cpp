// The configuration step against real INI files: the registration values, capacities,
// the abnormal ends with their record, and the credentials through the component.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "cipher_text.h"
#include "driver/configuration.h"
#include "env_guard.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "transport/xml_encryption_client.h"

namespace vemtu {
namespace {

constexpr char kNoRegistration[] = "ERR: Unable to get Registration ID, check KOLTMobile.ini";
constexpr char kNoComponent[] = "ERR: Unable to create instance of XML Encryption Component";

// Counts the holds of the instance lock.
struct LockCounts {
  int waits = 0;
  int releases = 0;
  bool destroyed = false;
};

class CountingLock final : public InterProcessLock {
 public:
  explicit CountingLock(LockCounts& counts) : counts_(counts) {}
  ~CountingLock() override { counts_.destroyed = true; }
  WaitResult Wait(unsigned long) override {
    ++counts_.waits;
    return WaitResult::kAcquired;
  }
  bool Release() override {
    ++counts_.releases;
    return true;
  }

 private:
  LockCounts& counts_;
};

class ConfigureRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.agent_ini_path = dir / "KOLTMobile.INI";
    ctx.category_ini_path = dir / "VemtuStatus.INI";
    ctx.run_log_path = dir / "WebPostStatus.log";
    ctx.category = "Status";
    ctx.instance_lock = std::make_unique<CountingLock>(locks);
    ASSERT_TRUE(platform::WriteProfileText(ctx.category_ini_path.str(), "WebPostCycles", "StatusPID", "4242"));
    ASSERT_TRUE(platform::WriteProfileText(ctx.category_ini_path.str(), "WebPostCycles", "StatusCycle", "3"));
  }

  void SetAgent(const char* section, const char* key, const std::string& value) {
    ASSERT_TRUE(platform::WriteProfileText(ctx.agent_ini_path.str(), section, key, value));
  }
  void SetRegistration() {
    SetAgent("MACHINE_INFO", "DCRegId", "REG-1");
    SetAgent("CONTROLLER_INFO", "MemberId", "M-2");
    SetAgent("CONTROLLER_INFO", "SiteId", "S-3");
    SetAgent("MACHINE_INFO", "AgentType", "Desktop");
  }
  std::string Record(const char* key) {
    return platform::GetProfileText(ctx.category_ini_path.str(), "WebPostCycles", key, "<missing>", 99);
  }
  std::string Log() { return test::ReadFileBytes(ctx.run_log_path.str()); }

  // The run ended with `message`: one hold of the lock for both writes, then closed.
  void ExpectEndedWith(const char* message) {
    EXPECT_NE(Log().find(message), std::string::npos) << Log();
    EXPECT_EQ(Record("StatusPID"), "");
    EXPECT_EQ(Record("StatusCycle"), "0");
    EXPECT_EQ(locks.waits, 1);
    EXPECT_EQ(locks.releases, 1);
    EXPECT_TRUE(locks.destroyed);
    EXPECT_EQ(ctx.instance_lock, nullptr);
  }
  void ExpectWentOn() {
    EXPECT_FALSE(test::FileExists(ctx.run_log_path.str())) << Log();
    EXPECT_EQ(Record("StatusPID"), "4242");
    EXPECT_EQ(locks.waits, 0);
    EXPECT_NE(ctx.instance_lock, nullptr);
  }

  test::TempDir dir;
  LockCounts locks;
  RunContext ctx;
};

TEST_F(ConfigureRunTest, AllValuesLandInTheRunRecord) {
  SetRegistration();
  SetAgent("DCConnURL", "ControllerPSite", "https://127.0.0.5/post");
  SetAgent("DCConnURL", "ControllerSSite", "\"http://127.0.0.6\"");
  SetAgent("ProxySettings", "ProxyIP", "10.0.0.5");
  SetAgent("ProxySettings", "ProxyPort", "3128");
  // A password without a user name is never read, let alone deciphered.
  SetAgent("ProxySettings", "ProxyPassword", "not-even-cipher-text");
  ctx.proxy_user_name = "left over";
  ctx.proxy_password = "left over";

  ASSERT_TRUE(ConfigureRun(ctx));
  EXPECT_EQ(ctx.registration_id, "REG-1");
  EXPECT_EQ(ctx.member_id, "M-2");
  EXPECT_EQ(ctx.site_id, "S-3");
  EXPECT_EQ(ctx.agent_type, "Desktop");
  EXPECT_EQ(ctx.primary_site_url, "https://127.0.0.5/post");
  EXPECT_EQ(ctx.secondary_site_url, "http://127.0.0.6");
  EXPECT_EQ(ctx.proxy_address, "10.0.0.5");
  EXPECT_EQ(ctx.proxy_port, "3128");
  EXPECT_EQ(ctx.proxy_user_name, "");
  EXPECT_EQ(ctx.proxy_password, "");
  ExpectWentOn();
}

TEST_F(ConfigureRunTest, EmptySitesAreNoError) {
  SetRegistration();
  ASSERT_TRUE(ConfigureRun(ctx));
  EXPECT_TRUE(ctx.primary_site_url.empty());
  EXPECT_TRUE(ctx.secondary_site_url.empty());
  ExpectWentOn();
}

TEST_F(ConfigureRunTest, AnyMissingRegistrationValueEndsTheRun) {
  const std::pair<const char*, const char*> required[] = {{"MACHINE_INFO", "DCRegId"},
                                                          {"CONTROLLER_INFO", "MemberId"},
                                                          {"CONTROLLER_INFO", "SiteId"},
                                                          {"MACHINE_INFO", "AgentType"}};
  for (const auto& [section, key] : required) {
    SCOPED_TRACE(key);
    TearDown();
    SetUp();
    locks = LockCounts();
    test::WriteFileBytes(ctx.agent_ini_path.str(), "");
    std::remove(ctx.run_log_path.c_str());
    SetRegistration();
    SetAgent(section, key, "");
    SetAgent("DCConnURL", "ControllerPSite", "http://never.read");
    EXPECT_FALSE(ConfigureRun(ctx));
    ExpectEndedWith(kNoRegistration);
    EXPECT_NE(Log().find(std::string("\tKOLTMobile.INI [") + section + "] " + key +
                         " is missing or empty\t"),
              std::string::npos)
        << Log();
    EXPECT_TRUE(ctx.primary_site_url.empty());
  }
}

TEST_F(ConfigureRunTest, AMissingAgentIniEndsTheRun) {
  EXPECT_FALSE(ConfigureRun(ctx));
  ExpectEndedWith(kNoRegistration);
}

TEST_F(ConfigureRunTest, LongValuesAreCutAtTheirCapacities) {
  struct Row {
    const char* section;
    const char* key;
    std::size_t capacity;
    const PathText* landed;
  };
  const Row rows[] = {
      {"MACHINE_INFO", "DCRegId", 259, &ctx.registration_id},
      {"CONTROLLER_INFO", "MemberId", 358, &ctx.member_id},
      {"CONTROLLER_INFO", "SiteId", 358, &ctx.site_id},
      {"MACHINE_INFO", "AgentType", 358, &ctx.agent_type},
      {"DCConnURL", "ControllerPSite", 259, &ctx.primary_site_url},
      {"DCConnURL", "ControllerSSite", 259, &ctx.secondary_site_url},
      {"ProxySettings", "ProxyIP", 259, &ctx.proxy_address},
  };
  for (const Row& row : rows) SetAgent(row.section, row.key, std::string(500, row.key[0]));
  SetAgent("ProxySettings", "ProxyPort", std::string(80, '8'));
  ASSERT_TRUE(ConfigureRun(ctx));
  for (const Row& row : rows) {
    EXPECT_EQ(row.landed->view(), std::string(row.capacity, row.key[0])) << row.key;
  }
  EXPECT_EQ(ctx.proxy_port.view(), std::string(49, '8'));
}

// --- Credentials through the component ---

// Linux: points the component registry at the library built beside the tests. Windows:
// registers the COM server built beside the tests with regsvr32 (again harmless: the
// same values are written). Either way the key is a file of the test's own.
#ifdef _WIN32
// regsvr32's exit code for the server beside this program.
int RegisterCipherServer() {
  std::string exe = platform::ExecutablePath();
  std::string dll = exe.substr(0, exe.rfind('\\') + 1) + "xmlcipher.dll";
  return std::system(("regsvr32 /s \"" + dll + "\"").c_str());
}
#endif

class CredentialsTest : public ConfigureRunTest {
 protected:
  void SetUp() override {
    ConfigureRunTest::SetUp();
    test::WriteFileBytes(registry_path, "[XMLCipher.clsCipher]\nLibrary=" +
                                            test::EnvOr("VEMTU_BIN", ".") + "/xmlcipher.so\n");
    SetRegistration();
#ifdef _WIN32
    static const int registered = RegisterCipherServer();
    ASSERT_EQ(registered, 0) << "regsvr32 xmlcipher.dll";
    ASSERT_TRUE(CXMLEncryptionClient().CreateComponent());
#endif
  }
  std::string Encipher(const std::string& clear) {
    std::string text;
    EXPECT_EQ(cipher::EncryptWithStoredKey(clear, text), cipher::CipherStatus::kOk);
    return text;
  }

  std::string registry_path = dir / "components.ini";
  test::EnvGuard registry{"VEMTU_COMPONENT_REGISTRY", registry_path};
  test::EnvGuard key{"VEMTU_CIPHER_KEY", dir / "cipher.key"};
};

TEST_F(CredentialsTest, BothCredentialsAreDeciphered) {
  SetAgent("ProxySettings", "ProxyUserName", Encipher("proxy\xC3\xA9user"));
  SetAgent("ProxySettings", "ProxyPassword", Encipher("pass word"));
  ASSERT_TRUE(ConfigureRun(ctx));
  // The clear text arrives in the system code page: UTF-8 on Linux, 1252 for the tests
  // under wine.
#ifdef _WIN32
  EXPECT_EQ(ctx.proxy_user_name, "proxy\xE9user");
#else
  EXPECT_EQ(ctx.proxy_user_name, "proxy\xC3\xA9user");
#endif
  EXPECT_EQ(ctx.proxy_password, "pass word");
  ExpectWentOn();
}

TEST_F(CredentialsTest, UndecipherableTextsLeaveEmptyCredentialsAndTheRunGoesOn) {
  struct Case {
    const char* name;
    std::string user;
    std::string password;
    const char* problem = "cannot be deciphered";
  };
  const Case cases[] = {
      {"user deciphers to empty", Encipher(""), ""},
      {"user garbled", "garbled==", Encipher("pass")},
      {"user cut", Encipher("user").substr(0, 20), ""},
#ifdef _WIN32
      // "L" with stroke, the euro sign and a CJK character: 1252 holds only the euro sign,
      // and best fit would send "pass-L\x80?".
      {"user outside the code page", Encipher("pass-\xC5\x81\xE2\x82\xAC\xE4\xB8\xAD"), "",
       "cannot be sent as typed"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetAgent("ProxySettings", "ProxyUserName", c.user);
    SetAgent("ProxySettings", "ProxyPassword", c.password);
    ASSERT_TRUE(ConfigureRun(ctx));
    EXPECT_EQ(ctx.proxy_user_name, "");
    EXPECT_EQ(ctx.proxy_password, c.password.empty() ? "" : "pass");
    // The run says why its proxy gets no user name, and only that.
    const std::string log = Log();
    EXPECT_NE(log.find(std::string("ERR: KOLTMobile.INI [ProxySettings] ProxyUserName ") +
                       c.problem),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("ERR: "), log.rfind("ERR: ")) << log;
    std::filesystem::remove(ctx.run_log_path.str());
    ExpectWentOn();
  }
}

#ifndef _WIN32
TEST_F(CredentialsTest, AMissingComponentEndsTheRun) {
  const char* registries[] = {"[Other.Name]\nLibrary=/nowhere.so\n",
                              "[XMLCipher.clsCipher]\nLibrary=/nowhere/xmlcipher.so\n"};
  for (const char* registry_text : registries) {
    SCOPED_TRACE(registry_text);
    TearDown();
    SetUp();
    locks = LockCounts();
    test::WriteFileBytes(registry_path, registry_text);
    SetAgent("ProxySettings", "ProxyUserName", "anything");
    EXPECT_FALSE(ConfigureRun(ctx));
    ExpectEndedWith(kNoComponent);
  }
}
#endif

TEST_F(CredentialsTest, ClientCreatesOnceAndLeavesTheOutputOnFailure) {
  CXMLEncryptionClient client;
  std::string clear = "kept";
  EXPECT_FALSE(client.DecryptText(Encipher("x"), clear));  // not created yet
  EXPECT_EQ(clear, "kept");
  ASSERT_TRUE(client.CreateComponent());
  EXPECT_TRUE(client.CreateComponent());
  EXPECT_TRUE(client.DecryptText("garbled", clear));
  EXPECT_EQ(clear, "kept");
  EXPECT_TRUE(client.DecryptText(Encipher("x"), clear));
  EXPECT_EQ(clear, "x");
}

}  // namespace
}  // namespace vemtu
