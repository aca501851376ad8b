// The compression of a serialisation on a second thread: the serialiser hands over its
// reads of 60000 bytes through a bounded queue, while a worker compresses them as raw
// DEFLATE and base64-encodes the compressed blocks as they come. The compressor sees the
// same reads with the same flags as from a whole buffer, so its output is the same.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "packing/buffers.h"

namespace vemtu::packing {

class DeflatePipeline {
 public:
  // The base64 text of the compressed stream is appended to `payload`, which belongs to
  // the worker until Finish returns. The worker starts with the first Feed: a text of
  // one read is compressed by Finish on the calling thread, without a thread to start.
  // Without `own_thread`, or when no thread can be started, each read is compressed on
  // the calling thread as it is handed over.
  explicit DeflatePipeline(StringBuffer& payload, bool own_thread = true);
  // Stops the worker and waits for it, also when Finish was never called.
  ~DeflatePipeline();
  DeflatePipeline(const DeflatePipeline&) = delete;
  DeflatePipeline& operator=(const DeflatePipeline&) = delete;

  // Queues one read for compression without the finish flag; waits while the queue is
  // full. False once the compressor has failed.
  bool Feed(std::string_view read);
  // Queues the last read with the finish flag and waits until the payload is complete.
  // False when the compressor or an allocation failed.
  bool Finish(std::string_view read);

 private:
  struct Read {
    std::string bytes;
    bool last = false;
  };
  struct Encoder;
  bool Queue(std::string_view read, bool last);
  void StartWorker();
  void Work();

  std::unique_ptr<Encoder> encoder_;  // compressor and base64 state, used by one thread
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Read> queue_;
  bool stop_ = false;    // the owner gives up: the worker ends without finishing
  bool done_ = false;    // the last read is encoded, or the compressor has failed
  bool failed_ = false;  // the compressor or an allocation failed
  bool own_thread_;      // a worker may still be started
  std::thread worker_;
};

}  // namespace vemtu::packing
