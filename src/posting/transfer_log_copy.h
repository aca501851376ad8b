// The copy of a posted file's bytes in its transfer log.
#pragma once

#include <string>

#include "transport/body_source.h"

namespace vemtu {

// "\[cut: N bytes]", N being the whole size of the file.
std::string CutMarker(long long whole_size);

// Writes "MSG: Web Post Data" to `transfer_log_path`, then appends the bytes of the held
// body `source` (from its start, as many as its identity says, its head as read already
// and the rest read from the file, leaving its position for Read where it was) and CR LF
// to it, in append mode under the log's lock, so that
// concurrent runs never tear or overwrite each other's lines. A failed read or write ends
// the copy without the CR LF. Never restarts the log. The copy stops where the log would
// leave less than 64 KiB below kLogSizeLimit for the rest of the post's lines, so that it
// and its marker survive them; a file cut there ends in CutMarker(its size) before the
// CR LF.
void CopyDataToTransferLog(const HeldBody& source, const std::string& transfer_log_path);

}  // namespace vemtu
