#include "packing/raw_deflate.h"

#include <zlib.h>

#include <algorithm>

namespace vemtu::packing {
namespace {

// A z_stream set up for one direction, ended by the destructor.
class Stream {
 public:
  explicit Stream(bool deflating) : deflating_(deflating) {
    ok_ = deflating ? deflateInit2(&z_, kDeflateLevel, Z_DEFLATED, kDeflateWindowBits,
                                   kDeflateMemoryLevel, Z_DEFAULT_STRATEGY) == Z_OK
                    : inflateInit2(&z_, kDeflateWindowBits) == Z_OK;
  }
  ~Stream() {
    if (!ok_) return;
    if (deflating_) {
      deflateEnd(&z_);
    } else {
      inflateEnd(&z_);
    }
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  bool ok() const { return ok_; }
  z_stream& z() { return z_; }

 private:
  z_stream z_{};
  bool deflating_;
  bool ok_ = false;
};

}  // namespace

bool DeflateRaw(std::string_view data, DataBuffer& out) {
  Stream stream(true);
  if (!stream.ok()) return false;
  z_stream& z = stream.z();
  std::size_t offset = 0;
  for (;;) {
    std::size_t read = std::min(kDeflateReadSize, data.size() - offset);
    bool last = offset + read == data.size();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + offset));
    z.avail_in = static_cast<uInt>(read);
    offset += read;
    int flush = last ? Z_FINISH : Z_NO_FLUSH;
    int status;
    do {
      char* block = out.Extend(kDeflateOutputBlock);
      z.next_out = reinterpret_cast<Bytef*>(block);
      z.avail_out = static_cast<uInt>(kDeflateOutputBlock);
      status = deflate(&z, flush);
      if (status == Z_STREAM_ERROR) return false;
      out.Commit(kDeflateOutputBlock - z.avail_out);
    } while (z.avail_out == 0 || (last && status != Z_STREAM_END));
    if (last) return status == Z_STREAM_END;
  }
}

bool InflateRaw(std::string_view data, std::string& out, std::size_t limit) {
  out.clear();
  Stream stream(false);
  if (!stream.ok()) return false;
  z_stream& z = stream.z();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(data.size(), 0xFFFFFFFFu));
  char block[65536];
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(block);
    z.avail_out = sizeof block;
    int status = inflate(&z, Z_NO_FLUSH);
    std::size_t produced = sizeof block - z.avail_out;
    if (out.size() + produced > limit) return false;
    out.append(block, produced);
    if (status == Z_STREAM_END) return z.avail_in == 0;
    if (status != Z_OK) return false;
    if (produced == 0 && z.avail_in == 0) return false;  // cut short
  }
}

}  // namespace vemtu::packing
