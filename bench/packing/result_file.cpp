#include "result_file.h"

#include <cstdint>

namespace {

const char* const kSources[] = {"Service Control Manager", "Disk", "Tcpip", "EventLog",
                                "Microsoft-Windows-Kernel-General", "W32Time", "Backup Exec"};
const char* const kMessages[] = {
    "The Print Spooler service entered the running state.",
    "The driver detected a controller error on \\Device\\Harddisk1\\DR1.",
    "The system uptime is 812345 seconds.",
    "Backup job &quot;Nightly&quot; completed with 0 errors &amp; 2 warnings.",
    "Name resolution for the name wpad timed out after none of the configured DNS servers responded.",
    "The time provider NtpClient is currently receiving valid time data.",
};
const char* const kCounters[] = {"CPU", "Memory", "Disk Queue", "Network In", "Network Out"};

struct Random {
  std::uint64_t state = 0x2545F4914F6CDD1DULL;
  unsigned Next(unsigned bound) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>((state >> 33) % bound);
  }
};

}  // namespace

std::string MakeResultFile(std::size_t bytes) {
  Random r;
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                    "<Results Machine=\"HOST-0142\" Agent=\"7.1.3\" Kind=\"EventLog\">\n";
  xml.reserve(bytes + 4096);
  unsigned id = 1000;
  while (xml.size() < bytes) {
    if (r.Next(4) == 0) {
      xml += "  <Counter Name=\"";
      xml += kCounters[r.Next(5)];
      xml += "\" Instance=\"_Total\" Value=\"" + std::to_string(r.Next(10000) / 100.0).substr(0, 5) + "\"/>\n";
      continue;
    }
    xml += "  <Event Id=\"" + std::to_string(++id) + "\" Time=\"2026-12-0" + std::to_string(1 + r.Next(7)) +
           "T" + std::to_string(10 + r.Next(14)) + ":" + std::to_string(10 + r.Next(50)) + ":" +
           std::to_string(10 + r.Next(50)) + "\" Severity=\"" + std::to_string(r.Next(5)) + "\" Source=\"";
    xml += kSources[r.Next(7)];
    xml += "\">\n    <Message>";
    xml += kMessages[r.Next(6)];
    xml += "</Message>\n    <User>NT AUTHORITY\\SYSTEM</User>\n  </Event>\n";
  }
  xml += "</Results>\n";
  return xml;
}
