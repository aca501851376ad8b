// A sample agent folder in a temporary folder, the data-centre simulator beside it, and
// the helpers whole-run tests need: writing the INI and rule files, running the agent,
// reading logs and what the simulator received.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dcsim_process.h"
#include "support/agent_runner.h"
#include "support/test_files.h"

namespace vemtu::test {

struct Received {
  dcsim::IndexLine line;
  std::string head;
  std::string body;
  std::string unpacked;  // empty unless the body was a packed document
};

class AgentScenario : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the simulator with `extra` options.
  void StartDcsim(const std::vector<std::string>& extra = {});
  std::string BaseUrl(const std::string& path = "/dc") const;

  // The agent INI with identity M1/S1/R1/T1 and the given sites and proxy.
  void WriteAgentIni(const std::string& primary, const std::string& secondary = "",
                     const std::string& proxy_ip = "", const std::string& proxy_port = "",
                     const std::string& proxy_user = "", const std::string& proxy_password = "");
  void WriteConfigFile(const std::string& name, const std::string& text);

  std::string Folder(const std::string& category) const;
  std::string File(const std::string& category, const std::string& name) const;
  std::string ErrorFile(const std::string& category, const std::string& name) const;
  // A path of the agent folder written the way the agent writes it in its logs.
  std::string AgentPath(const std::string& path) const;
  std::string TransferLog(const std::string& prefix) const;
  std::string RunLog(const std::string& category) const;
  std::string CategoryIniValue(const std::string& category, const std::string& key) const;

  // Runs the agent with `word` (none when empty) and waits for it.
  RunResult Run(const std::string& word, int timeout_ms = 120000);
  // Waits until the run log of each category says the run finished.
  bool WaitFinished(const std::vector<std::string>& categories, int timeout_ms = 120000);

  std::vector<Received> ReceivedRequests() const;
  std::vector<std::string> FilesIn(const std::string& folder) const;

  TempDir dir_;
  std::string agent_;
  std::string exe_;
  dcsim::DcsimProcess sim_;
};

}  // namespace vemtu::test
