// The copy of a posted file's bytes in its transfer log.
#pragma once

#include <string>

namespace vemtu {

// Writes "MSG: Web Post Data" to `transfer_log_path`, then appends the bytes of
// `file_path` and CR LF to it. Nothing is written when the file cannot be opened; the
// bytes are not appended when the log cannot be opened (it must exist). A failed read or
// write ends the copy without the CR LF. Takes no lock and never restarts the log.
void CopyDataToTransferLog(const std::string& file_path, const std::string& transfer_log_path);

}  // namespace vemtu
