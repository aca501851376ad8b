#include "packing/deflate_pipeline.h"

#include <system_error>

#include "packing/content_coding.h"
#include "packing/raw_deflate.h"

namespace vemtu::packing {
namespace {
// Reads waiting for the worker: enough to keep it busy, few enough to keep memory flat.
constexpr std::size_t kQueuedReads = 4;
}  // namespace

// Compresses one read after the other and encodes what each gives.
struct DeflatePipeline::Encoder {
  explicit Encoder(StringBuffer& payload)
      : deflater(compressed), base64(payload, ContentCoding::kPackedLineLength) {}
  // False when the compressor failed; throws std::bad_alloc.
  bool Encode(std::string_view read, bool last) {
    if (!(last ? deflater.Finish(read) : deflater.Feed(read))) return false;
    base64.Add(compressed.view());
    compressed.Clear();
    if (last) base64.End();
    return true;
  }
  DataBuffer compressed;
  RawDeflater deflater;
  Base64Writer base64;
};

DeflatePipeline::DeflatePipeline(StringBuffer& payload, bool own_thread)
    : encoder_(std::make_unique<Encoder>(payload)), own_thread_(own_thread) {}

void DeflatePipeline::StartWorker() {
  own_thread_ = false;
  try {
    worker_ = std::thread([this] { Work(); });
  } catch (const std::system_error&) {
    // No thread to be had: the reads are compressed where they are handed over.
  }
}

DeflatePipeline::~DeflatePipeline() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

bool DeflatePipeline::Queue(std::string_view read, bool last) {
  if (own_thread_ && !last) StartWorker();
  if (!worker_.joinable()) {
    if (done_) return false;
    bool ok = false;
    try {
      ok = encoder_->Encode(read, last);
    } catch (...) {
    }
    failed_ = !ok;
    done_ = last || !ok;
    return ok;
  }
  Read item{std::string(read), last};
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return queue_.size() < kQueuedReads || done_; });
  if (done_) return false;
  queue_.push_back(std::move(item));
  hold.unlock();
  changed_.notify_all();
  return true;
}

bool DeflatePipeline::Feed(std::string_view read) { return Queue(read, false); }

bool DeflatePipeline::Finish(std::string_view read) {
  if (!Queue(read, true)) return false;
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return done_; });
  return !failed_;
}

void DeflatePipeline::Work() {
  bool ok = true;
  try {
    for (;;) {
      Read read;
      {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [this] { return !queue_.empty() || stop_; });
        if (queue_.empty()) break;  // stopped before the last read came
        read = std::move(queue_.front());
        queue_.pop_front();
      }
      changed_.notify_all();
      ok = encoder_->Encode(read.bytes, read.last);
      if (!ok || read.last) break;
    }
  } catch (...) {
    ok = false;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    failed_ = !ok;
    done_ = true;
  }
  changed_.notify_all();
}

}  // namespace vemtu::packing
