// Memory that a caller is done with before it frees it.
#pragma once

#include <cstddef>

namespace vemtu::platform {

// Says that the bytes of [begin, begin + size), memory the caller owns, will not be read
// again: the whole pages inside it go back to the system at once (Linux) and read as
// zeros afterwards. Where the system has no such call nothing happens. The memory stays
// the caller's, to be freed as usual.
void DiscardPages(void* begin, std::size_t size);

}  // namespace vemtu::platform
