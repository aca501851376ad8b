// vemtu-unpack PACKED: decodes the base64 payload of a packed document, inflates it as raw
// DEFLATE and writes the inner text to standard output. Exit code 0 on success; 1 with a
// reason on standard error for anything that is not a packed document.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "binary_output.h"
#include "packing/buffers.h"
#include "packing/content_coding.h"
#include "packing/raw_deflate.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tool_version.h"

namespace {

constexpr char kUsage[] =
    "usage: vemtu-unpack PACKED\n"
    "Writes the inner text of the packed document PACKED (the serialised result file that\n"
    "the agent compressed and base64-encoded into the root) to standard output.\n"
    "Exit code 0 on success; 1, with the reason on standard error, when PACKED cannot be\n"
    "read or is not a packed document; 2 for wrong arguments.\n";

struct Failure {
  std::string reason;
};

// The whole file, read through the platform layer: a folder, a missing file or one larger
// than any packed document are refused with the reason.
std::string ReadPacked(const char* path) {
  vemtu::platform::File file = vemtu::platform::File::Open(path, vemtu::platform::OpenMode::kReadExisting);
  if (!file.IsOpen()) {
    throw Failure{"cannot be read: " + vemtu::platform::ErrorText(vemtu::platform::LastError())};
  }
  long long size = file.Size();
  if (size < 0) throw Failure{"cannot be read: its size is unknown"};
  if (static_cast<unsigned long long>(size) > vemtu::packing::kBufferLimit) {
    throw Failure{"too large for a packed document"};
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::size_t have = 0;
  for (;;) {
    if (have == bytes.size()) bytes.resize(bytes.size() + 65536);  // it may have grown
    long long got = file.Read(&bytes[have], bytes.size() - have);
    if (got < 0) throw Failure{"cannot be read: " + vemtu::platform::ErrorText(vemtu::platform::LastError())};
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
    if (have > vemtu::packing::kBufferLimit) throw Failure{"too large for a packed document"};
  }
  bytes.resize(have);
  return bytes;
}

// The compressed bytes of the payload. The root holds "<![CDATA[", the payload and "]]>",
// then its end tag and nothing else. The prolog before the root (instructions, a DOCTYPE)
// may carry "<![CDATA[" as plain text, so the payload is the last section: base64 holds
// no "<".
std::string CompressedPayload(const std::string& document) {
  std::size_t open = document.rfind("<![CDATA[");
  if (open == std::string::npos) throw Failure{"not a packed document (no CDATA payload)"};
  std::size_t close = document.find("]]>", open);
  if (close == std::string::npos) throw Failure{"not a packed document (payload not closed)"};
  std::string compressed;
  std::string_view payload = std::string_view(document).substr(open + 9, close - open - 9);
  if (payload.empty() || !vemtu::packing::ContentCoding::DecodeBase64(payload, compressed)) {
    throw Failure{"payload is not base64"};
  }
  return compressed;
}

// Inflates straight to standard output, block by block; no inner text of the agent is
// longer than its buffers hold, so a longer stream is refused.
void WriteInnerText(const std::string& compressed) {
  SetBinaryOutput();
  std::size_t written = 0;
  bool too_long = false, write_failed = false;
  vemtu::packing::InflateEnd end = vemtu::packing::InflateRawBlocks(compressed, [&](std::string_view block) {
    if (block.size() > vemtu::packing::kBufferLimit - written) {
      too_long = true;
      return false;
    }
    written += block.size();
    write_failed = std::fwrite(block.data(), 1, block.size(), stdout) != block.size();
    return !write_failed;
  });
  if (too_long) throw Failure{"payload inflates beyond the size of any packed document"};
  if (write_failed || std::fflush(stdout) != 0) throw Failure{"cannot write the output"};
  if (end != vemtu::packing::InflateEnd::kComplete) throw Failure{"payload is not one raw DEFLATE stream"};
}

}  // namespace

int main(int argc, char** argv) {
  if (vemtu::tools::AsksVersion(argc, argv)) return vemtu::tools::PrintVersion("vemtu-unpack");
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* path = argv[1];
  try {
    WriteInnerText(CompressedPayload(ReadPacked(path)));
    return 0;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "vemtu-unpack: %s: %s\n", path, failure.reason.c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "vemtu-unpack: %s: not enough memory\n", path);
  } catch (...) {
    std::fprintf(stderr, "vemtu-unpack: %s: failed\n", path);
  }
  return 1;
}
