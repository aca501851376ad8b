// A generated result file of the kind the monitoring agent leaves: many small elements
// with attributes and text, deterministic for a given size.
#pragma once

#include <cstddef>
#include <string>

std::string MakeResultFile(std::size_t bytes);
