// vemtu-cipher: enciphers proxy credentials for the agent INI and deciphers them again,
// with the same key and text form as the component the agent calls.
//   vemtu-cipher encrypt [TEXT]   prints the enciphered TEXT
//   vemtu-cipher decrypt [TEXT]   prints the clear text
//   vemtu-cipher key-path         prints where the key file is
//   vemtu-cipher register|unregister [REGISTRY]
//                                 registers the component beside the command
// Without TEXT the text is read from standard input (one line ending at its end is
// dropped). Exit code 0 on success, 1 on failure (reason on standard error), 2 on misuse.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cipher_text.h"
#include "key_store.h"
#include "registration.h"
#include "tool_io.h"
#include "tool_version.h"

namespace {

const char kUsage[] =
    "usage: vemtu-cipher encrypt|decrypt [TEXT]\n"
    "       vemtu-cipher key-path\n"
    "       vemtu-cipher register|unregister [REGISTRY]\n"
    "\n"
    "encrypt     prints TEXT enciphered, for ProxyUserName and ProxyPassword of the agent INI\n"
    "decrypt     prints the clear text of an enciphered TEXT (a check of the key)\n"
    "key-path    prints where the key file is (made by the first encrypt)\n"
    "register    registers the component XMLCipher.clsCipher beside this command, so the\n"
    "            agent can decipher the credentials (Linux: in REGISTRY, default\n"
    "            $VEMTU_COMPONENT_REGISTRY, else components.ini beside this command when\n"
    "            it exists (the installed folder has one), else /etc/vemtu/components.ini;\n"
    "            Windows: the same as regsvr32 xmlcipher.dll); unregister removes it\n"
    "--version   prints the version\n"
    "Without TEXT the text is read from standard input (one final line end dropped).\n"
    "Run it as the user (Linux) or on the machine (Windows) that runs the agent: both\n"
    "must use the same key. Exit code 0 on success, 1 on failure, 2 on misuse.\n";

int Usage() {
  std::cerr << kUsage;
  return 2;
}

std::string ReadStandardInput() {
  std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (vemtu::tools::AsksVersion(argc, argv)) return vemtu::tools::PrintVersion("vemtu-cipher");
  using namespace vemtu::cipher;
  std::vector<std::string> args = CommandArguments(argc, argv);
  if (args.size() < 2 || args.size() > 3) return Usage();
  const std::string& command = args[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "key-path" && args.size() == 2) {
    std::cout << KeyFilePath() << '\n';
    return 0;
  }
  if (command == "register" || command == "unregister") {
    std::string where;
    bool done = RegisterComponent(command == "register", args.size() == 3 ? args[2] : "", where);
    if (!done) std::cerr << "vemtu-cipher: " << command << " failed: " << where << '\n';
    else std::cout << where << '\n';
    return done ? 0 : 1;
  }
  bool encrypt = command == "encrypt";
  if (!encrypt && command != "decrypt") return Usage();
  PrepareBinaryInput();
  std::string input = args.size() == 3 ? args[2] : ReadStandardInput();
  std::string output;
  CipherStatus status = encrypt ? EncryptWithStoredKey(input, output)
                                : DecryptWithStoredKey(input, output);
  if (status != CipherStatus::kOk) {
    std::cerr << "vemtu-cipher: " << command << " failed: " << Describe(status)
              << " (key file " << KeyFilePath() << ")\n";
    return 1;
  }
  std::cout << output << '\n';
  return std::cout.flush() ? 0 : 1;
}
