// Posting every file of one folder that matches one pattern to one base URL: the checks
// that set files aside, the packing, the Status envelope, the request path, the
// transfer log and the hand-over to the send cascade.
#pragma once

#include <string>

#include "posting/dispatch_post.h"
#include "posting/routing_table.h"

namespace vemtu {

// `folder` has no trailing separator; `pattern` begins with the separator ("/*_N_*.txt?"
// on Linux, "\*_N_*.txt?" on Windows). Pack flag 1 packs every file; otherwise a run whose
// category begins with "A" packs exactly the names holding "_Y_" or "_y_".
void PostMatchingFiles(PostingSession& session, const RoutingTable& routing,
                       const std::string& folder, const std::string& pattern,
                       const std::string& url, int pack_flag);

// Moves `folder`/`name` into the Error folder. A file of that name there is never
// replaced: the name takes the first free "." + number suffix. A failed move is not
// reported; a destination past 359 characters leaves the file.
void MoveToErrorFolder(const RunContext& ctx, const std::string& folder, const std::string& name);

}  // namespace vemtu
