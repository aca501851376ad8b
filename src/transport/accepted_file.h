// The delete that follows the data centre's acceptance of a file.
#pragma once

#include <string>

#include "common/run_context.h"
#include "platform/files.h"

namespace vemtu {

// Deletes the accepted file `path` through the run's folder; when given `identity`, only
// if the name still refers to that file (one that changed meanwhile stays for the next
// run). `held`, the file as the run holds it open for its post, is kept, too, while a
// writer has it open or waits to (looked at only when it is the file of `identity`). A
// file still the same that cannot be deleted gets an error line, with the error number, in
// the current transfer log; one that changed gets a line saying it was kept. True when the
// file is gone.
bool DeleteAccepted(const RunContext& ctx, const std::string& path,
                    const platform::FileIdentity* identity, platform::File* held = nullptr);

}  // namespace vemtu
