// `vemtu-check output`: tries each of the seven send methods in cascade order as far as
// a post would go short of sending a result file, and tells how far each got.
#pragma once

#include <string>
#include <vector>

#include "agent_setup.h"

namespace vemtu::check {

struct MethodProbe {
  int number = 0;
  std::string name;     // the send procedure
  std::string site;     // the site URL tried
  bool usable = false;  // it reached the data centre: a post could go this way
  std::string outcome;  // what happened, in words
  unsigned long error = 0;
  std::string error_text;
};

// Probes both sites (the secondary when set) with every method. `timeout_ms` bounds each
// step. `notes` receives what kept a probe from being made as a run would make it (no
// WinHTTP, credentials that cannot be deciphered).
std::vector<MethodProbe> CheckOutput(AgentSetup& agent, unsigned long timeout_ms,
                                     std::vector<std::string>& notes);

}  // namespace vemtu::check
