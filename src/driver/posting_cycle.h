// The second half of a run: transport preparation, leftover clean-up, the priority pass,
// the pattern passes (or the update counters), the finish and the follow-up run.
#pragma once

#include <string>

#include "common/run_context.h"
#include "platform/agent_folder.h"

namespace vemtu {

class RoutingTable;
struct PostingSession;

void RunPostingCycle(RunContext& ctx, RoutingTable& routing);

// The passes alone, with the transport already prepared in `session`: the priority pass
// and the pattern passes for the posting categories, the update counters for
// "Configuration".
void RunCategoryWork(PostingSession& session, RoutingTable& routing);

// Deletes every packed copy (IsPackedCopy) that `folder` + `pattern` lists, descending into
// the subfolders the same pattern lists (and only those), each step through `agent`. Any
// other file listed stays, with a line in `log` (none when empty). Failures are ignored.
void DeleteMatchingFiles(const std::string& folder, const std::string& pattern,
                         const platform::AgentFolder& agent = platform::FolderOrUnrooted(nullptr),
                         const std::string& log = std::string());

// The longest priority name whose pattern "\tfr_" + name + "*.*" fits in 100 characters.
constexpr std::size_t kPriorityNameLimit = 92;

}  // namespace vemtu
