#include "config_check.h"

#include "folder_state.h"
#include "key_owner.h"
#include "key_store.h"
#include "log/log_writer.h"
#include "platform/dir_search.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "driver/agent_process.h"
#include "driver/startup.h"
#include "posting/post_names.h"
#include "posting/routing_load.h"
#include "posting/routing_table.h"
#include "posting/rule_files.h"
#include "transport/send_procedures.h"
#include "transport/xml_encryption_client.h"

namespace vemtu::check {

namespace {

// A log this close to the restart size moves to its ".1" name at one of the next runs,
// replacing the generation before it.
constexpr long long kLogNearLimit = kLogSizeLimit - 256 * 1024;

// How long the proxy may take to answer a request.
constexpr unsigned long kProxyProbeMs = 5000;

bool Exists(const std::string& path) {
  return platform::File::Open(path, platform::OpenMode::kReadExisting).IsOpen();
}

// The first bytes of the agent INI: a byte-order mark or zero bytes tell a Unicode file.
const char* UnicodeForm(const std::string& path) {
  platform::File file = platform::File::Open(path, platform::OpenMode::kReadExisting);
  unsigned char head[64] = {};
  long long got = file.IsOpen() ? file.Read(head, sizeof head) : 0;
  if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) return "UTF-16 (little-endian)";
  if (got >= 2 && head[0] == 0xFE && head[1] == 0xFF) return "UTF-16 (big-endian)";
  if (got >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) return "UTF-8 with a byte-order mark";
  for (long long i = 0; i < got; ++i)
    if (head[i] == 0) return "UTF-16 without a byte-order mark";
  return nullptr;
}

void CheckValues(const AgentSetup& agent, std::vector<Finding>& out) {
  const std::string ini = "KOLTMobile.INI";
  if (!Exists(agent.ctx.agent_ini_path.str())) {
    out.push_back({true, ini + " is missing (" + agent.ctx.agent_ini_path.str() + ")",
                   "create it beside Vemtu.EXE with the four identity values and the site URL"});
    return;
  }
  bool missing = false;
  for (const auto& v : agent.values) missing = missing || (v.required && v.value.empty());
  if (const char* form = UnicodeForm(agent.ctx.agent_ini_path.str()); form && missing) {
    out.push_back({true, ini + " is saved as " + form + ", which the agent does not read",
                   "save it as plain 8-bit text (ANSI) without a byte-order mark"});
    return;
  }
  for (const auto& v : agent.values) {
    std::string name = ini + " [" + v.section + "] " + v.key;
    if (v.required && v.value.empty())
      out.push_back({true, name + " is missing or empty: every run ends unposted",
                     "set it to the value the data centre gave this machine"});
    if (HoldsInlineComment(v.value))
      out.push_back({true, name + " holds a comment: \"" + v.value + "\"",
                     "a ';' after a value is part of it; put the comment on a line of its own"});
  }
}

void CheckSite(const AgentSetup& agent, const char* key, bool required,
               std::vector<Finding>& out) {
  std::string url = agent.Value(key);
  std::string name = std::string("KOLTMobile.INI [DCConnURL] ") + key;
  if (url.empty()) {
    if (required)
      out.push_back({true, name + " is empty: nothing can be posted",
                     "set it to the base URL, scheme://host[:port][/path]"});
    return;
  }
  UrlParts parts;
  if (!SplitUrl(url, parts) || parts.host.empty() || parts.port <= 0 || parts.port > 65535) {
    out.push_back({true, name + " \"" + url + "\" does not split into scheme, host and port",
                   "write it as http://host[:port][/path] or https://host[:port][/path]"});
  }
}

// A request through the configured proxy as the WinINet proxy method makes it: a proxy
// that answers at all (even with an error page) is there.
void CheckProxyAnswers(const AgentSetup& agent, std::vector<Finding>& out) {
  UrlParts parts;
  // Any site will do: the question is whether the proxy answers at all.
  if (!SplitUrl(agent.Value("ControllerPSite"), parts)) SplitUrl("http://127.0.0.9:9/", parts);
  ProbeOutcome outcome = ProbeSendProcedure("SendProxyPOST", false, agent.ctx, nullptr,
                                            parts.host.str(), "/" + parts.base_path.str(),
                                            parts.scheme.str(), parts.port, "GET", kProxyProbeMs);
  if (outcome.replied || outcome.error == 0) return;
  std::string proxy = agent.Value("ProxyIP") + ":" + agent.Value("ProxyPort");
  out.push_back({true,
                 "the configured proxy " + proxy + " does not answer (" + outcome.step + ": " +
                     std::to_string(outcome.error) + " " +
                     platform::ErrorText(static_cast<int>(outcome.error)) +
                     "): the proxy methods 2, 4 and 6 fail",
                 "check ProxyIP and ProxyPort, and that the proxy runs; vemtu-check output "
                 "shows every method"});
}

void CheckProxy(const AgentSetup& agent, std::vector<Finding>& out) {
  const std::string section = "KOLTMobile.INI [ProxySettings] ";
  if (!agent.Value("ProxyIP").empty() && agent.Value("ProxyPort").empty())
    out.push_back({true, section + "ProxyIP is set but ProxyPort is empty",
                   "set ProxyPort to the proxy's port number"});
  else if (!agent.Value("ProxyIP").empty())
    CheckProxyAnswers(agent, out);
  std::string user = agent.Value("ProxyUserName");
  if (user.empty()) {
    if (!agent.Value("ProxyPassword").empty())
      out.push_back({false, section + "ProxyPassword is set without ProxyUserName: it is not read",
                     "set the enciphered ProxyUserName too, or remove the password"});
    return;
  }
  CXMLEncryptionClient client;
  if (!client.CreateComponent()) {
    out.push_back({true,
                   "the cipher component XMLCipher.clsCipher cannot be created: every run "
                   "with proxy credentials ends at once",
                   "register it: vemtu-cipher register (Windows: regsvr32 xmlcipher.dll)"});
    return;
  }
  for (const char* key : {"ProxyUserName", "ProxyPassword"}) {
    std::string enciphered = agent.Value(key), clear;
    if (enciphered.empty()) continue;
    client.DecryptText(enciphered, clear);
    if (clear.empty() && client.AnswerNotInCodePage()) {
      out.push_back({true, section + key + " cannot be sent as typed: the system code page "
                     "has no exact spelling of it",
                     "use only characters of the system code page in proxy credentials"});
      continue;
    }
    if (!clear.empty()) continue;
    const KeyOwnership ownership{cipher::KeyFilePath(), OwnerOf(cipher::KeyFilePath()),
                                 OwnerOf(agent.folder).user};
    std::string cause, fix;
    if (KeyHeldByAnother(ownership, cause, fix))
      out.push_back({true, section + key + " cannot be deciphered: " + cause, fix});
    else
      out.push_back({true, section + key + " cannot be deciphered with this machine's key",
                     "encipher it again as the runs' user: vemtu-cipher encrypt 'TEXT'"});
  }
}

// The rule files count only when there is no post database.
void CheckRoutingFiles(const AgentSetup& agent, std::vector<Finding>& out) {
  for (const char* category : kPostingCategories) {
    std::string database = PostDatabasePath(agent.config_dir, category);
    platform::File file = platform::File::Open(database, platform::OpenMode::kReadExisting);
    if (!file.IsOpen()) continue;
    long long size = file.Size();
    if (size % static_cast<long long>(kRoutingRecordSize) != 0)
      out.push_back({true,
                     database + " is " + std::to_string(size) + " bytes, not a whole number of " +
                         std::to_string(kRoutingRecordSize) + "-byte records",
                     "replace it with a complete copy, or remove it to use the rule files"});
  }
  const std::string sep(1, platform::kPathSeparator);
  struct RuleFile {
    const char* name;
    const char* marker;  // what a rule starts with, in lower case
    bool (*yields)(const std::string& text);
  };
  static const RuleFile kFiles[] = {
      {"Reprioritize.XML", "nm=",
       [](const std::string& text) {
         RoutingTable table;
         ApplyReprioritizeRules(table, text);
         return table.size() + table.priority_count() > 0;
       }},
      {"DNSSpecific.XML",
       "url=", [](const std::string& text) { return text.find("url='") != std::string::npos; }},
  };
  for (const RuleFile& f : kFiles) {
    std::string path = agent.config_dir + sep + f.name, text;
    if (!ReadRuleText(path, text)) continue;
    if (text.find(f.marker) != std::string::npos && !f.yields(text))
      out.push_back({true, path + " holds rules but yields none (double quotes?)",
                     "write every value in single quotes: nm='NAME', url='URL'"});
  }
}

void CheckFolder(const std::string& path, bool must_exist, std::vector<Finding>& out) {
  FolderState state = InspectFolder(path);
  if (state.is_link)
    out.push_back({true, path + " is a link: the agent never enters a linked folder",
                   "replace the link by a real folder"});
  else if (!state.exists && must_exist)
    out.push_back({true, path + " is missing", "create it"});
  else if (state.exists && !state.writable)
    out.push_back({true, path + " is not writable for this user",
                   "give the user that runs the agent the right to create and delete files in it"});
}

// The locks are machine-wide by name: a lock made by a run of another agent folder, as
// another user, is refused here and every run of this folder ends at once.
void CheckLocks(std::vector<Finding>& out) {
  std::vector<std::string> names;
  for (const char* category : kPostingCategories) {
    names.push_back(InstanceLockName(CategoryOfTableWord(category)));
    names.push_back(PostDatabaseLockName(category));
  }
  names.push_back(InstanceLockName(CategoryOfTableWord("Configuration")));
  for (const std::string& name : names) {
    platform::NamedMutex lock = platform::NamedMutex::Create(name);
    if (lock.IsValid()) continue;
    int error = platform::LastError();
    out.push_back({true,
                   "the lock " + name + " cannot be opened (" + std::to_string(error) + " " +
                       platform::ErrorText(error) + "): runs end with \"MSG: Unable to create mutex\"",
                   "locks are shared by name across the machine: a run of another agent "
                   "folder as another user holds it; run both as one user, or one at a time"});
  }
}

// This tool lies beside the agent, so its own path tells whether the agent can run here.
void CheckOwnPath(std::vector<Finding>& out) {
  std::string own;
  if (platform::ReadExecutablePath(own) != platform::ExecutablePathState::kNotInCodePage) return;
  out.push_back({true,
                 "this folder's path holds characters that the system code page cannot spell "
                 "exactly: every run of Vemtu.EXE here ends at once with exit code " +
                     std::to_string(platform::kExitPathNotInCodePage) + ", touching nothing",
                 "install the agent in a folder whose path uses only characters of the system "
                 "code page (plain ASCII letters fit every code page)"});
}

void CheckFolders(const AgentSetup& agent, std::vector<Finding>& out) {
  const std::string exe = agent.Path({kAgentImageName});
  if (exe.size() > kExePathMaxChars)
    out.push_back({true,
                   exe + " is " + std::to_string(exe.size()) + " characters long: every run ends at "
                   "once, touching nothing (at most " + std::to_string(kExePathMaxChars) + ")",
                   "move the agent folder to a shorter path"});
  CheckFolder(agent.folder, true, out);
  for (const char* category : kPostingCategories) {
    if (!InspectFolder(agent.Path({category})).exists)
      out.push_back({true, agent.Path({category}) + " is missing: the monitoring agent has nowhere "
                     "to leave its files",
                     "create it (a run of that category creates it too)"});
    CheckFolder(agent.Path({category}), false, out);
    CheckFolder(agent.Path({category, "Error"}), false, out);
  }
  CheckFolder(agent.Path({"Configuration"}), false, out);
  CheckFolder(agent.config_dir, false, out);
  CheckFolder(agent.Path({"ApplicationLog"}), false, out);
  CheckFolder(agent.Path({"ApplicationLog", "WebPost"}), false, out);
  CheckFolder(agent.log_dir, false, out);
}

void CheckLogs(const AgentSetup& agent, std::vector<Finding>& out) {
  platform::DirSearch search;
  platform::DirEntry entry;
  std::string folder = agent.log_dir + platform::kPathSeparator;
  for (auto step = search.First(folder + "*.log", entry); step == platform::SearchStep::kEntry;
       step = search.Next(entry)) {
    if (entry.is_directory || static_cast<long long>(entry.size) < kLogNearLimit) continue;
    out.push_back({false,
                   folder + entry.name + " is " + std::to_string(entry.size) + " bytes: at " +
                       std::to_string(kLogSizeLimit) + " it restarts, its text replacing " +
                       entry.name + ".1",
                   "keep a copy of " + entry.name + ".1 now if its history matters"});
  }
}

}  // namespace

bool HoldsInlineComment(const std::string& value) {
  if (!value.empty() && (value[0] == ';' || value[0] == '#')) return true;
  for (std::size_t i = 1; i < value.size(); ++i)
    if ((value[i] == ';' || value[i] == '#') && (value[i - 1] == ' ' || value[i - 1] == '\t'))
      return true;
  return false;
}

std::vector<Finding> CheckConfig(const AgentSetup& agent) {
  std::vector<Finding> out;
  CheckValues(agent, out);
  CheckSite(agent, "ControllerPSite", true, out);
  CheckSite(agent, "ControllerSSite", false, out);
  CheckProxy(agent, out);
  CheckRoutingFiles(agent, out);
  CheckOwnPath(out);
  CheckFolders(agent, out);
  CheckLocks(out);
  CheckLogs(agent, out);
  return out;
}

}  // namespace vemtu::check
