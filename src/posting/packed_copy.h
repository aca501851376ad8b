// Telling a packed copy that this agent made from any other file of the same name pattern.
#pragma once

#include "platform/files.h"

namespace vemtu {

// True when the open file reads as a packed copy the agent could have made: an XML
// document whose root element holds nothing but one CDATA section of base64 text (its
// packed payload), or such a document cut short inside its payload (the copy of a run
// that ended while writing it). A writer's own ".zip" (an archive, a text) is not one.
// Only the head and the tail of the file are read.
bool IsPackedCopy(const platform::File& file);

}  // namespace vemtu
