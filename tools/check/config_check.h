// `vemtu-check config`: reads an agent folder as a run would and names every problem
// that would keep a run from posting, each with its fix.
#pragma once

#include <string>
#include <vector>

#include "agent_setup.h"

namespace vemtu::check {

struct Finding {
  bool problem;      // true: the agent cannot work as set up; false: worth knowing
  std::string what;  // where and what, one line
  std::string fix;   // what to do about it, one line
};

std::vector<Finding> CheckConfig(const AgentSetup& agent);

// True when `value` looks like it carries an inline comment ("TVQA ; test").
bool HoldsInlineComment(const std::string& value);

}  // namespace vemtu::check
