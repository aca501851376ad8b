// The copy of a posted file's bytes in its transfer log.
#pragma once

#include <string>

#include "platform/files.h"

namespace vemtu {

// Writes "MSG: Web Post Data" to `transfer_log_path`, then appends the bytes of
// `file_path` (as many as it held when opened) and CR LF to it, in append mode under the
// log's lock, so that concurrent runs never tear or overwrite each other's lines.
// Nothing is written when the file cannot be opened. A failed read or write ends the copy
// without the CR LF. Never restarts the log. At most kLogSizeLimit bytes are copied; a
// larger file's copy ends in CutMarker(its size) before the CR LF.
// "\[cut: N bytes]", N being the whole size of the file.
std::string CutMarker(long long whole_size);

void CopyDataToTransferLog(const std::string& file_path, const std::string& transfer_log_path);

// The same from a file held open: read from its start, as many bytes as it held when it
// was opened, leaving its position for Read where it was.
void CopyDataToTransferLog(const platform::File& source, const std::string& transfer_log_path);

}  // namespace vemtu
