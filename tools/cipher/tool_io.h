// What the command needs from the system beyond the standard library.
#pragma once

#include <string>
#include <vector>

namespace vemtu::cipher {

// The program's arguments as UTF-8 (on Windows from the wide command line, so that any
// character survives; elsewhere argv as given).
std::vector<std::string> CommandArguments(int argc, char** argv);

// Standard input read as bytes, without line-ending translation.
void PrepareBinaryInput();

}  // namespace vemtu::cipher
