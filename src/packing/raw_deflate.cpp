#include "packing/raw_deflate.h"

#include <zlib.h>

#include <algorithm>

namespace vemtu::packing {
namespace {

constexpr std::size_t kInflateBlock = 65536;

// A z_stream set up for one direction, ended by the destructor.
class ZStream {
 public:
  explicit ZStream(bool deflating) : deflating_(deflating) {
    ok_ = deflating ? deflateInit2(&z_, kDeflateLevel, Z_DEFLATED, kDeflateWindowBits,
                                   kDeflateMemoryLevel, Z_DEFAULT_STRATEGY) == Z_OK
                    : inflateInit2(&z_, kDeflateWindowBits) == Z_OK;
  }
  ~ZStream() {
    if (!ok_) return;
    if (deflating_) {
      deflateEnd(&z_);
    } else {
      inflateEnd(&z_);
    }
  }
  ZStream(const ZStream&) = delete;
  ZStream& operator=(const ZStream&) = delete;
  bool ok() const { return ok_; }
  z_stream& z() { return z_; }

 private:
  z_stream z_{};
  bool deflating_;
  bool ok_ = false;
};

}  // namespace

struct RawDeflater::Stream {
  Stream() : z(true) {}
  ZStream z;
};

RawDeflater::RawDeflater(DataBuffer& out) : stream_(std::make_unique<Stream>()), out_(out) {
  failed_ = !stream_->z.ok();
}

RawDeflater::~RawDeflater() = default;

bool RawDeflater::Run(std::string_view data, bool finish) {
  if (failed_) return false;
  z_stream& z = stream_->z.z();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  int status;
  do {
    char* block = out_.Extend(kDeflateOutputBlock);
    z.next_out = reinterpret_cast<Bytef*>(block);
    z.avail_out = static_cast<uInt>(kDeflateOutputBlock);
    status = deflate(&z, finish ? Z_FINISH : Z_NO_FLUSH);
    if (status == Z_STREAM_ERROR) {
      failed_ = true;
      return false;
    }
    out_.Commit(kDeflateOutputBlock - z.avail_out);
  } while (z.avail_out == 0 || (finish && status != Z_STREAM_END));
  if (finish && status != Z_STREAM_END) failed_ = true;
  return !failed_;
}

bool DeflateRaw(std::string_view data, DataBuffer& out) {
  RawDeflater deflater(out);
  while (data.size() > kDeflateReadSize) {
    if (!deflater.Feed(data.substr(0, kDeflateReadSize))) return false;
    data.remove_prefix(kDeflateReadSize);
  }
  return deflater.Finish(data);
}

InflateEnd InflateRawBlocks(std::string_view data,
                            const std::function<bool(std::string_view block)>& sink) {
  ZStream stream(false);
  if (!stream.ok()) return InflateEnd::kNotOneStream;
  z_stream& z = stream.z();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(data.size(), 0xFFFFFFFFu));
  std::unique_ptr<char[]> block(new char[kInflateBlock]);
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(block.get());
    z.avail_out = static_cast<uInt>(kInflateBlock);
    int status = inflate(&z, Z_NO_FLUSH);
    std::size_t produced = kInflateBlock - z.avail_out;
    if ((status == Z_OK || status == Z_STREAM_END) && produced &&
        !sink(std::string_view(block.get(), produced))) {
      return InflateEnd::kRefused;
    }
    if (status == Z_STREAM_END) return z.avail_in == 0 ? InflateEnd::kComplete : InflateEnd::kNotOneStream;
    if (status != Z_OK) return InflateEnd::kNotOneStream;
    if (produced == 0 && z.avail_in == 0) return InflateEnd::kNotOneStream;  // cut short
  }
}

bool InflateRaw(std::string_view data, std::string& out, std::size_t limit) {
  out.clear();
  return InflateRawBlocks(data, [&](std::string_view block) {
           if (block.size() > limit - out.size()) return false;
           out.append(block);
           return true;
         }) == InflateEnd::kComplete;
}

}  // namespace vemtu::packing
