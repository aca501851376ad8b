#include "agent_scenario.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/profile.h"

namespace fs = std::filesystem;

namespace vemtu::test {

void AgentScenario::SetUp() {
  agent_ = dir_ / "agent";
  exe_ = InstallAgent(agent_);
  fs::create_directories(agent_ + "/Configuration/WebPost");
}

void AgentScenario::TearDown() { sim_.Stop(); }

void AgentScenario::StartDcsim(const std::vector<std::string>& extra) {
  std::string error;
  ASSERT_TRUE(sim_.Start(EnvOr("VEMTU_BIN", ".") + "/dcsim", dir_ / "received", extra, error))
      << error;
}

std::string AgentScenario::BaseUrl(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(sim_.http_port) + path;
}

void AgentScenario::WriteAgentIni(const std::string& primary, const std::string& secondary,
                                  const std::string& proxy_ip, const std::string& proxy_port,
                                  const std::string& proxy_user,
                                  const std::string& proxy_password) {
  WriteFileBytes(agent_ + "/KOLTMobile.INI",
                 "[MACHINE_INFO]\r\nDCRegId=R1\r\nAgentType=T1\r\n"
                 "[CONTROLLER_INFO]\r\nMemberId=M1\r\nSiteId=S1\r\n"
                 "[DCConnURL]\r\nControllerPSite=" +
                     primary + "\r\nControllerSSite=" + secondary +
                     "\r\n[ProxySettings]\r\nProxyIP=" + proxy_ip + "\r\nProxyPort=" + proxy_port +
                     "\r\nProxyUserName=" + proxy_user + "\r\nProxyPassword=" + proxy_password +
                     "\r\n");
}

void AgentScenario::WriteConfigFile(const std::string& name, const std::string& text) {
  WriteFileBytes(agent_ + "/Configuration/WebPost/" + name, text);
}

std::string AgentScenario::Folder(const std::string& category) const {
  return agent_ + "/" + category;
}
std::string AgentScenario::File(const std::string& category, const std::string& name) const {
  return Folder(category) + "/" + name;
}
std::string AgentScenario::ErrorFile(const std::string& category, const std::string& name) const {
  return Folder(category) + "/Error/" + name;
}

std::string AgentScenario::AgentPath(const std::string& path) const {
  if (!UnderWine()) return path;
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

std::string AgentScenario::TransferLog(const std::string& prefix) const {
  return agent_ + "/ApplicationLog/WebPost/WebPostExe/tfr_" + prefix + ".log";
}
std::string AgentScenario::RunLog(const std::string& category) const {
  return agent_ + "/ApplicationLog/WebPost/WebPostExe/WebPost" + category + ".log";
}

std::string AgentScenario::CategoryIniValue(const std::string& category,
                                            const std::string& key) const {
  return platform::GetProfileText(agent_ + "/Configuration/WebPost/Vemtu" + category + ".INI",
                                  "WebPostCycles", category + key, "<missing>", 99);
}

RunResult AgentScenario::Run(const std::string& word, int timeout_ms) {
  std::vector<std::string> args;
  if (!word.empty()) args.push_back(word);
  return RunAgent(exe_, args, timeout_ms);
}

bool AgentScenario::WaitFinished(const std::vector<std::string>& categories, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    bool all = true;
    for (const auto& category : categories) {
      if (ReadFileBytes(RunLog(category)).find("MSG: Finished Web Posting") == std::string::npos)
        all = false;
    }
    if (all) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::vector<Received> AgentScenario::ReceivedRequests() const {
  std::vector<Received> requests;
  for (const auto& line : dcsim::ReadIndex(sim_.out_folder)) {
    char stem[16];
    std::snprintf(stem, sizeof stem, "%06lu", line.number);
    std::string base = sim_.out_folder + "/" + stem;
    requests.push_back({line, ReadFileBytes(base + ".head"), ReadFileBytes(base + ".body"),
                        FileExists(base + ".unpacked") ? ReadFileBytes(base + ".unpacked") : ""});
  }
  return requests;
}

std::vector<std::string> AgentScenario::FilesIn(const std::string& folder) const {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace vemtu::test
