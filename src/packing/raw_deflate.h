// DEFLATE without any wrapping (no zlib or gzip header, no trailer), as zlib makes it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "packing/buffers.h"

namespace vemtu::packing {

constexpr int kDeflateLevel = 6;
constexpr int kDeflateWindowBits = -15;  // window of 32768 bytes; negative: no wrapper
constexpr int kDeflateMemoryLevel = 8;
constexpr std::size_t kDeflateReadSize = 60000;
constexpr std::size_t kDeflateOutputBlock = 25000;

// A raw deflate stream at level 6, memory level 8, default strategy, fed piece by piece;
// its output is taken in blocks of at most 25000 bytes and appended to `out`.
class RawDeflater {
 public:
  explicit RawDeflater(DataBuffer& out);
  ~RawDeflater();
  RawDeflater(const RawDeflater&) = delete;
  RawDeflater& operator=(const RawDeflater&) = delete;

  // Compresses one read without flushing. False once the compressor has failed.
  bool Feed(std::string_view data) { return Run(data, false); }
  // Compresses the last read with the finish flag and ends the stream.
  bool Finish(std::string_view data) { return Run(data, true); }

 private:
  bool Run(std::string_view data, bool finish);
  struct Stream;
  std::unique_ptr<Stream> stream_;
  DataBuffer& out_;
  bool failed_ = false;
};

// Compresses `data` at level 6 with memory level 8 and the default strategy, fed in reads
// of at most 60000 bytes (the finish flag with the last) and taken out in blocks of at
// most 25000 bytes appended to `out`. False when the compressor reports a failure.
bool DeflateRaw(std::string_view data, DataBuffer& out);

// How a stream inflated block by block ended.
enum class InflateEnd {
  kComplete,     // the bytes were one complete stream and every block was taken
  kNotOneStream, // not a raw DEFLATE stream, cut short, or followed by other bytes
  kRefused,      // the block sink returned false
};

// Inflates a raw DEFLATE stream in blocks of at most 64 KB, each handed to `sink` as it
// is made, so that memory stays bounded whatever the stream expands to.
InflateEnd InflateRawBlocks(std::string_view data,
                            const std::function<bool(std::string_view block)>& sink);

// Inflates a raw DEFLATE stream into `out`. False when the bytes are not one complete
// stream (zlib- and gzip-wrapped data fail too) or when the output would pass `limit`.
bool InflateRaw(std::string_view data, std::string& out, std::size_t limit = kBufferLimit);

}  // namespace vemtu::packing
