// vemtu-unpack PACKED: decodes the base64 payload of a packed document, inflates it as raw
// DEFLATE and writes the inner text to standard output. Exit code 0 on success; 1 with a
// reason on standard error for anything that is not a packed document.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "binary_output.h"
#include "packing/content_coding.h"
#include "packing/raw_deflate.h"

namespace {

int Fail(const char* path, const char* reason) {
  std::fprintf(stderr, "vemtu-unpack: %s: %s\n", path, reason);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vemtu-unpack PACKED\n");
    return 2;
  }
  const char* path = argv[1];
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(path, "cannot be read");
  std::string document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  // The root holds "<![CDATA[", the payload and "]]>", then its end tag and nothing else.
  // The prolog before the root (instructions, a DOCTYPE) may carry "<![CDATA[" as plain
  // text, so the payload is the last section: base64 holds no "<".
  std::size_t open = document.rfind("<![CDATA[");
  if (open == std::string::npos) return Fail(path, "not a packed document (no CDATA payload)");
  std::size_t close = document.find("]]>", open);
  if (close == std::string::npos) return Fail(path, "not a packed document (payload not closed)");
  std::string payload = document.substr(open + 9, close - open - 9);
  std::string compressed;
  if (payload.empty() || !vemtu::packing::ContentCoding::DecodeBase64(payload, compressed)) {
    return Fail(path, "payload is not base64");
  }
  std::string inner;
  if (!vemtu::packing::InflateRaw(compressed, inner)) {
    return Fail(path, "payload is not one raw DEFLATE stream");
  }
  SetBinaryOutput();
  if (std::fwrite(inner.data(), 1, inner.size(), stdout) != inner.size() || std::fflush(stdout) != 0) {
    return Fail(path, "cannot write the output");
  }
  return 0;
}
