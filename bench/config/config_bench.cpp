// What deciphering the proxy credentials costs: the cipher with the key in memory, with
// the key file read per call, through the component (UTF-16 both ways, loaded library),
// and the whole configuration step with and without credentials.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "cipher_text.h"
#include "key_store.h"
#include "driver/configuration.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "transport/xml_encryption_client.h"

namespace vemtu {
namespace {

// A folder with a key file, a component registry and an agent INI.
struct Setup {
  Setup() {
    setenv("VEMTU_CIPHER_KEY", (dir / "cipher.key").c_str(), 1);
    setenv("VEMTU_COMPONENT_REGISTRY", (dir / "components.ini").c_str(), 1);
    test::WriteFileBytes(dir / "components.ini", "[XMLCipher.clsCipher]\nLibrary=" +
                                                     test::EnvOr("VEMTU_BIN", "bin") + "/xmlcipher.so\n");
    cipher::EncryptWithStoredKey("proxy-user@example", user);
    cipher::EncryptWithStoredKey("a proxy password", password);
    cipher::LoadKey(key);
    ini = dir / "KOLTMobile.INI";
    for (const char* key_name : {"DCRegId", "AgentType"}) platform::WriteProfileText(ini, "MACHINE_INFO", key_name, "X");
    for (const char* key_name : {"MemberId", "SiteId"}) platform::WriteProfileText(ini, "CONTROLLER_INFO", key_name, "X");
    platform::WriteProfileText(ini, "DCConnURL", "ControllerPSite", "http://127.0.0.1/post");
  }
  void SetCredentials(bool with) {
    platform::WriteProfileText(ini, "ProxySettings", "ProxyUserName", with ? user : "");
    platform::WriteProfileText(ini, "ProxySettings", "ProxyPassword", with ? password : "");
  }

  test::TempDir dir;
  std::string user, password, ini;
  cipher::CipherKey key{};
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void BM_DecryptKeyInMemory(benchmark::State& state) {
  Setup& s = Shared();
  std::string clear;
  for (auto _ : state) benchmark::DoNotOptimize(cipher::DecryptText(s.key, s.user, clear));
}
BENCHMARK(BM_DecryptKeyInMemory);

void BM_DecryptKeyFromFile(benchmark::State& state) {
  Setup& s = Shared();
  std::string clear;
  for (auto _ : state) benchmark::DoNotOptimize(cipher::DecryptWithStoredKey(s.user, clear));
}
BENCHMARK(BM_DecryptKeyFromFile);

void BM_DecryptThroughComponent(benchmark::State& state) {
  Setup& s = Shared();
  CXMLEncryptionClient client;
  if (!client.CreateComponent()) {
    state.SkipWithError("component not found");
    return;
  }
  std::string clear;
  for (auto _ : state) benchmark::DoNotOptimize(client.DecryptText(s.user, clear));
}
BENCHMARK(BM_DecryptThroughComponent);

void ConfigureRunBench(benchmark::State& state, bool with_credentials) {
  Setup& s = Shared();
  s.SetCredentials(with_credentials);
  for (auto _ : state) {
    RunContext ctx;
    ctx.agent_ini_path = s.ini;
    benchmark::DoNotOptimize(ConfigureRun(ctx));
  }
}
void BM_ConfigureRunPlain(benchmark::State& state) { ConfigureRunBench(state, false); }
void BM_ConfigureRunWithCredentials(benchmark::State& state) { ConfigureRunBench(state, true); }
BENCHMARK(BM_ConfigureRunPlain);
BENCHMARK(BM_ConfigureRunWithCredentials);

}  // namespace
}  // namespace vemtu

BENCHMARK_MAIN();
