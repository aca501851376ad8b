// The proxy-credential cipher for scenario tests: makes the component "XMLCipher.clsCipher"
// available (or not) to the agents this test process starts, and enciphers texts for the
// agent INI with the same key. Natively the component registry (written by
// "vemtu-cipher register") and the key file are files in the test's folder; under wine the Windows build's COM server is registered in
// the test's wine prefix with regsvr32 and the key file is the same file seen from wine.
// Settings go through this process's environment, which started agents inherit.
#pragma once

#include <string>
#include <vector>

#include "support/agent_runner.h"

namespace vemtu::test {

// Makes the component available, with the key file `folder`/cipher.key. False when the
// registration failed.
bool PrepareCipherComponent(const std::string& folder);

// Makes the component impossible to create for agents started afterwards: natively its
// registry entry is emptied; under wine the server DLL is disabled for those processes only, so
// the registration other tests rely on stays.
void HideCipherComponent(const std::string& folder);

// Runs the vemtu-cipher command of the build under test with `args`, and `input` on its
// standard input (none: an empty input); its output without the final line ending.
CommandOutput RunCipherCommand(const std::vector<std::string>& args, const char* input = nullptr);

// `clear` enciphered by the vemtu-cipher command of the build under test; empty when the
// command failed.
std::string Encipher(const std::string& clear);

}  // namespace vemtu::test
