#include "driver/configuration.h"

#include <algorithm>
#include <string>

#include "log/log_writer.h"
#include "platform/profile.h"
#include "posting/run_record.h"
#include "transport/xml_encryption_client.h"

namespace vemtu {

namespace {

// One text value of the agent INI; `max_chars` cuts longer values.
struct AgentValue {
  const char* section;
  const char* key;
  std::size_t max_chars;
};

// Read in this order; any one empty ends the run.
constexpr AgentValue kRegistrationId{"MACHINE_INFO", "DCRegId", 259};
constexpr AgentValue kMemberId{"CONTROLLER_INFO", "MemberId", 358};
constexpr AgentValue kSiteId{"CONTROLLER_INFO", "SiteId", 358};
constexpr AgentValue kAgentType{"MACHINE_INFO", "AgentType", 358};

constexpr AgentValue kPrimarySite{"DCConnURL", "ControllerPSite", 259};
constexpr AgentValue kSecondarySite{"DCConnURL", "ControllerSSite", 259};
constexpr AgentValue kProxyAddress{"ProxySettings", "ProxyIP", 259};
constexpr AgentValue kProxyPort{"ProxySettings", "ProxyPort", 49};
constexpr AgentValue kProxyUserName{"ProxySettings", "ProxyUserName", 259};  // enciphered
constexpr AgentValue kProxyPassword{"ProxySettings", "ProxyPassword", 259};  // enciphered

// 1: the WinINet methods check server certificates; absent or 0: they accept any.
constexpr char kCertificateCheckSection[] = "DCConnURL";
constexpr char kCertificateCheckKey[] = "WinInetCheckCertificates";

// Seconds a file that no lease can hold must have stayed unchanged before it is posted.
constexpr char kFilesSection[] = "WebPostFiles";
constexpr char kSettleKey[] = "SettleSeconds";
constexpr int kDefaultSettleSeconds = 5;
constexpr int kMaxSettleSeconds = 3600;

// The clear-text credentials are texts of the run record like the others.
constexpr std::size_t kClearTextMaxChars = kPathCapacity - 1;

constexpr char kNoRegistration[] = "ERR: Unable to get Registration ID, check KOLTMobile.ini";
constexpr char kNoComponent[] = "ERR: Unable to create instance of XML Encryption Component";

// The update counters of the "Configuration" run and the value each wraps to 0 at.
constexpr char kCyclesSection[] = "ConfigCycles";
constexpr char kAgentUpdateCycle[] = "KOLTMobileUpdateCycle";
constexpr char kDnsUpdateCycle[] = "DNSSpecificUpdateCycle";
constexpr char kRoutingUpdateCycle[] = "RepriortizeUpdateCycle";  // spelled so by the agent
constexpr int kTestAgentCycleLimit = 5;
constexpr int kAgentCycleLimit = 30;
constexpr int kDnsCycleLimit = 30;
constexpr int kRoutingCycleLimit = 8;
constexpr char kTestAgentType[] = "TVQA";

std::string ReadAgentValue(RunContext& ctx, const AgentValue& value) {
  return RunProfiles(ctx).GetText(ctx.agent_ini_path.str(), value.section, value.key, "",
                                  value.max_chars);
}

// Logs `message`, clears the run's record and closes the instance lock: the run ends.
bool EndConfiguration(RunContext& ctx, const char* message, const char* detail = nullptr) {
  WriteLogEntry(ctx.run_log_path.str(), kEventProgress, 0, message, detail);
  EndRunRecord(ctx);
  return false;
}

// "KOLTMobile.INI [SECTION] Key", as the configuration check names a value.
std::string ValueName(const AgentValue& value) {
  return std::string("KOLTMobile.INI [") + value.section + "] " + value.key;
}

// Names the identity values that are empty, as the configuration check does.
std::string MissingValues(const RunContext& ctx) {
  std::string missing;
  const std::pair<const AgentValue*, bool> values[] = {
      {&kRegistrationId, ctx.registration_id.empty()},
      {&kMemberId, ctx.member_id.empty()},
      {&kSiteId, ctx.site_id.empty()},
      {&kAgentType, ctx.agent_type.empty()}};
  for (const auto& [value, empty] : values) {
    if (!empty) continue;
    if (!missing.empty()) missing += ", ";
    missing += ValueName(*value);
  }
  return missing + " is missing or empty";
}

void CutClearText(std::string& text) {
  if (text.size() > kClearTextMaxChars) text.resize(kClearTextMaxChars);
}

// Deciphers one credential; a text that deciphers to nothing is logged, and the run
// goes on without it.
void Decipher(const RunContext& ctx, CXMLEncryptionClient& client, const AgentValue& value,
              const std::string& enciphered, std::string& clear) {
  client.DecryptText(enciphered, clear);
  CutClearText(clear);
  if (!clear.empty()) return;
  const std::string problem =
      "ERR: " + ValueName(value) +
      (client.AnswerNotInCodePage()
           ? " cannot be sent as typed: the system code page has no exact spelling of it"
           : " cannot be deciphered with this machine's key");
  WriteLogEntry(ctx.run_log_path.str(), kEventProgress, 0, problem.c_str());
}

void AdvanceCycle(platform::ProfileFiles& profiles, const std::string& ini, const char* key,
                  int limit) {
  // Widened so that a stored value at the top of the int range cannot overflow.
  long long next = static_cast<long long>(profiles.GetInt(ini, kCyclesSection, key, 0)) + 1;
  if (next >= limit) next = 0;
  profiles.WriteText(ini, kCyclesSection, key, std::to_string(next));
}

}  // namespace

bool ConfigureRun(RunContext& ctx) {
  std::string registration_id = ReadAgentValue(ctx, kRegistrationId);
  std::string member_id = ReadAgentValue(ctx, kMemberId);
  std::string site_id = ReadAgentValue(ctx, kSiteId);
  std::string agent_type = ReadAgentValue(ctx, kAgentType);
  ctx.registration_id = registration_id;
  ctx.member_id = member_id;
  ctx.site_id = site_id;
  ctx.agent_type = agent_type;
  if (registration_id.empty() || member_id.empty() || site_id.empty() || agent_type.empty()) {
    return EndConfiguration(ctx, kNoRegistration, MissingValues(ctx).c_str());
  }

  ctx.primary_site_url = ReadAgentValue(ctx, kPrimarySite);
  ctx.secondary_site_url = ReadAgentValue(ctx, kSecondarySite);
  ctx.proxy_address = ReadAgentValue(ctx, kProxyAddress);
  ctx.proxy_port = ReadAgentValue(ctx, kProxyPort);
  ctx.wininet_checks_certificates =
      RunProfiles(ctx).GetInt(ctx.agent_ini_path.str(), kCertificateCheckSection,
                              kCertificateCheckKey, 0) != 0;
  const int settle = platform::GetProfileInt(ctx.agent_ini_path.str(), kFilesSection, kSettleKey,
                                             kDefaultSettleSeconds);
  ctx.unleased_settle_ms =
      1000ul * static_cast<unsigned long>(std::clamp(settle, 0, kMaxSettleSeconds));
  std::string enciphered = ReadAgentValue(ctx, kProxyUserName);

  ctx.proxy_user_name.clear();
  ctx.proxy_password.clear();
  // The password is read only when there is a user name to go with it.
  if (enciphered.empty()) return true;

  CXMLEncryptionClient client;
  if (!client.CreateComponent()) return EndConfiguration(ctx, kNoComponent);
  // Whatever the component returns is taken: a failed call leaves the text empty.
  Decipher(ctx, client, kProxyUserName, enciphered, ctx.proxy_user_name);
  enciphered.clear();
  enciphered = ReadAgentValue(ctx, kProxyPassword);
  if (!enciphered.empty()) Decipher(ctx, client, kProxyPassword, enciphered, ctx.proxy_password);
  enciphered.clear();  // the enciphered texts are kept only while they are deciphered
  return true;
}

std::vector<AgentIniValue> ReadAgentIniValues(const std::string& agent_ini_path) {
  std::vector<AgentIniValue> values;
  for (const AgentValue* v :
       {&kRegistrationId, &kMemberId, &kSiteId, &kAgentType, &kPrimarySite, &kSecondarySite,
        &kProxyAddress, &kProxyPort, &kProxyUserName, &kProxyPassword}) {
    bool required = v == &kRegistrationId || v == &kMemberId || v == &kSiteId || v == &kAgentType;
    values.push_back(
        {v->section, v->key,
         platform::GetProfileText(agent_ini_path, v->section, v->key, "", v->max_chars), required});
  }
  return values;
}

void AdvanceConfigCycles(RunContext& ctx, const std::string& config_ini_path) {
  int agent_limit =
      EqualsIgnoreCase(ctx.agent_type.view(), kTestAgentType) ? kTestAgentCycleLimit : kAgentCycleLimit;
  platform::ProfileFiles& profiles = RunProfiles(ctx);
  AdvanceCycle(profiles, config_ini_path, kAgentUpdateCycle, agent_limit);
  AdvanceCycle(profiles, config_ini_path, kDnsUpdateCycle, kDnsCycleLimit);
  AdvanceCycle(profiles, config_ini_path, kRoutingUpdateCycle, kRoutingCycleLimit);
}

}  // namespace vemtu
