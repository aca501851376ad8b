#include "packing/deflate_pipeline.h"

#include "packing/content_coding.h"
#include "packing/raw_deflate.h"

namespace vemtu::packing {
namespace {
// Reads waiting for the worker: enough to keep it busy, few enough to keep memory flat.
constexpr std::size_t kQueuedReads = 4;
}  // namespace

DeflatePipeline::DeflatePipeline(StringBuffer& payload) : payload_(payload) {
  worker_ = std::thread([this] { Work(); });
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
    DataBuffer compressed;
    RawDeflater deflater(compressed);
    Base64Writer base64(payload_, ContentCoding::kPackedLineLength);
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
      ok = read.last ? deflater.Finish(read.bytes) : deflater.Feed(read.bytes);
      if (!ok) break;
      base64.Add(compressed.view());
      compressed.Clear();
      if (read.last) {
        base64.End();
        break;
      }
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
