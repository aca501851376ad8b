// The write-data settings of the WinHTTP connection, read from the posting configuration
// INI. Kept apart from the connection's own file, where the SDK's names for the profile
// functions would shadow the platform's.
#include "platform/profile.h"
#include "transport/winhttp_connect.h"

namespace vemtu {

int CZWinHTTPConnect::ZReadWriteDataSettings(const std::string& config_ini_path) {
  static const char kSection[] = "ConfigWebPostWriteData";
  int chunk = platform::GetProfileInt(config_ini_path, kSection, "NumberOfBytesToWrite", 0);
  int delay = platform::GetProfileInt(config_ini_path, kSection, "WriteDataDelay", 0);
  if (chunk > 0) write_chunk_size_ = chunk > kMaxChunkSize ? kMaxChunkSize : chunk;
  if (delay > 0) write_delay_ms_ = delay;
  return 1;
}

}  // namespace vemtu
