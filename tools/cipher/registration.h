// Registering the component beside the command under the name "XMLCipher.clsCipher".
//   Linux:   writes [XMLCipher.clsCipher] Library=<this folder>/xmlcipher.so (just
//            "xmlcipher.so" when the registry lies in that folder) into the
//            component registry (`registry`, else $VEMTU_COMPONENT_REGISTRY, else
//            /etc/vemtu/components.ini); unregistering empties the entry of an
//            existing registry and fails when there is none.
//   Windows: calls DllRegisterServer / DllUnregisterServer of xmlcipher.dll beside the
//            command, as regsvr32 does; `registry` must be empty.
#pragma once

#include <string>

namespace vemtu::cipher {

// True on success; `where` tells what was registered (or why not).
bool RegisterComponent(bool add, const std::string& registry, std::string& where);

}  // namespace vemtu::cipher
