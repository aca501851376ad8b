#include "platform/memory.h"

namespace vemtu::platform {

// The C runtime's heap gives no way to hand back part of a block: the pages go when the
// block is freed.
void DiscardPages(void*, std::size_t) {}

}  // namespace vemtu::platform
