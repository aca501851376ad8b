// The programs beside the agent explain themselves: --help prints the usage and exits 0,
// --version the version,
// vemtu-post names the seven methods, vemtu-pack says which step failed.
#include <gtest/gtest.h>

#include <filesystem>

#include "check_scenario.h"

namespace vemtu::test {
namespace {

TEST(ToolHelp, EveryToolPrintsItsUsageAndExitsZero) {
  TempDir dir;
  for (const char* tool : {"vemtu-post", "vemtu-pack", "vemtu-cipher", "vemtu-check"}) {
    CheckRun run = RunTool(BuiltTool(tool), {"--help"}, dir.path().string());
    EXPECT_EQ(run.exit_code, 0) << tool << "\n" << run.out;
    EXPECT_EQ(run.out.rfind("usage: ", 0), 0u) << tool << "\n" << run.out;
  }
  for (const char* tool : {"vemtu-post", "vemtu-pack", "vemtu-unpack", "vemtu-cipher", "vemtu-check", "dcsim"}) {
    // The simulator runs natively beside either build.
    const std::string exe = std::string(tool) == "dcsim" ? EnvOr("VEMTU_BIN", ".") + "/dcsim" : BuiltTool(tool);
    CheckRun run = RunTool(exe, {"--version"}, dir.path().string());
    EXPECT_EQ(run.exit_code, 0) << tool << "\n" << run.out;
    EXPECT_EQ(run.out.rfind(std::string(tool) + " " + VEMTU_VERSION + "\n", 0), 0u) << run.out;
  }
  // The simulator runs natively beside either build.
  CheckRun dcsim = RunTool(EnvOr("VEMTU_BIN", ".") + "/dcsim", {"--help"}, dir.path().string());
  EXPECT_EQ(dcsim.exit_code, 0);
  for (const char* topic : {"Precedence:", "Example script:", "index.txt", "times=N"})
    EXPECT_NE(dcsim.out.find(topic), std::string::npos) << topic;
}

TEST(ToolHelp, PostListsTheSevenMethodsInCascadeOrder) {
  TempDir dir;
  CheckRun run = RunTool(BuiltTool("vemtu-post"), {"--help"}, dir.path().string());
  std::size_t at = 0;
  for (const char* method :
       {"1 SendWinHTTPPOST", "2 SendProxyWinHTTPPOST", "3 SendDefaultProxyWinHTTPPOST",
        "4 SendProxyWinHTTPPOST", "5 SendPOST", "6 SendProxyPOST", "7 SendDefaultProxyPOST"}) {
    at = run.out.find(method, at);
    ASSERT_NE(at, std::string::npos) << method << "\n" << run.out;
  }
}

TEST(ToolHelp, PackSaysWhyPackingFailed) {
  TempDir dir;
  WriteFileBytes(dir / "empty.xml", "");
  WriteFileBytes(dir / "good.xml", "<a>text</a>");
  CheckRun empty = RunTool(BuiltTool("vemtu-pack"), {"empty.xml", "out.xml"}, dir.path().string());
  EXPECT_EQ(empty.exit_code, 1);
  EXPECT_NE(empty.out.find("packing empty.xml failed: it cannot be read, or is not a document"),
            std::string::npos)
      << empty.out;
  CheckRun unwritable =
      RunTool(BuiltTool("vemtu-pack"), {"good.xml", "missing/out.xml"}, dir.path().string());
  EXPECT_EQ(unwritable.exit_code, 1);
  EXPECT_NE(unwritable.out.find("could not be written"), std::string::npos) << unwritable.out;
  EXPECT_FALSE(FileExists(dir / "out.xml"));
}

TEST(ToolHelp, PostTellsARefusalFromAFileThatWasNotDelivered) {
  TempDir dir;
  dcsim::DcsimProcess sim;
  std::string error;
  ASSERT_TRUE(sim.Start(EnvOr("VEMTU_BIN", ".") + "/dcsim", dir / "received",
                        {"--rule", "default reply=0"}, error)) << error;
  WriteFileBytes(dir / "T_N_1.txt", "x");
  const std::string path = "/dc/tfr_T.asp?mmid=1&sid=2&rid=R&rty=T";
  struct {
    int port;
    const char* says;
  } cases[] = {{sim.http_port, "refused: the reply was \"0\", not \"1\""},
               {9, "not delivered: error 12029 at WinInet."}};
  for (const auto& c : cases) {
    CheckRun run = RunTool(BuiltTool("vemtu-post"),
                           {"--method", "5", "--host", "127.0.0.1", "--port", std::to_string(c.port),
                            "--path", path, "--file", "T_N_1.txt", "--log", "tfr_T.log"},
                           dir.path().string());
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
  }
}

// Linux: the folder's own registry names the library beside it relative to itself.
TEST(ToolHelpNativeOnly, CipherRegistersRelativeInItsFolderAndUnregistersOnlyWhatExists) {
  TempDir dir;
  for (const char* file : {"vemtu-cipher", "xmlcipher.so"})
    std::filesystem::copy_file(EnvOr("VEMTU_BIN", ".") + "/" + file, dir / file);
  const std::string registry = dir / "components.ini";
  CheckRun gone = RunTool(dir / "vemtu-cipher", {"unregister", registry}, dir.path().string());
  EXPECT_EQ(gone.exit_code, 1);
  EXPECT_NE(gone.out.find("does not exist"), std::string::npos) << gone.out;
  EXPECT_FALSE(FileExists(registry));
  ASSERT_EQ(RunTool(dir / "vemtu-cipher", {"register", registry}, dir.path().string()).exit_code, 0);
  EXPECT_NE(ReadFileBytes(registry).find("Library=xmlcipher.so"), std::string::npos)
      << ReadFileBytes(registry);
}

// Beside the agent, vemtu-check also names the agent's version, read from its file.
TEST_F(CheckScenario, CheckVersionNamesTheAgentBesideIt) {
  CheckRun run = RunCheck({"--version"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find(std::string("\nVemtu.EXE ") + VEMTU_VERSION + "\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace vemtu::test
