// Pieces both connections share for one POST exchange: the state a worker and the
// waiting side both see, and what the POST worker is handed.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "transport/body_source.h"
#include "transport/reply_buffer.h"

namespace vemtu {

// The error recorded for the exchange and whether the waiting side gave up on it.
struct ExchangeState {
  std::atomic<std::uint32_t> last_error{0};
  // Set when the waiting side gave up on the worker: a worker left running stops at its
  // next pass instead of going on with a request nobody waits for.
  std::atomic<bool> abandoned{false};

  void Record(std::uint32_t code) { last_error.store(code); }
  // Records `code` unless an error is recorded already.
  void RecordFirst(std::uint32_t code) {
    std::uint32_t none = 0;
    last_error.compare_exchange_strong(none, code);
  }
};

// What the POST worker needs; shared so that a worker left behind still owns it.
template <class Handles>
struct WebPostJobBase {
  std::shared_ptr<Handles> owner;
  std::string body_file_path;
  HeldBody held_body;           // that file as the caller holds it open, if it does
  platform::File own_duplicate;  // a worker's own handle on it (see HoldBody)
  std::string held_head;         // the bytes held_body.head views
  std::string reply_file_path;
  std::vector<char> body_text;
  std::string prefix;
  std::string suffix;
  ReplyBuffer reply;

  // Takes the body arguments of ZHTTPWebPost: absent texts are empty; a body text of
  // `body_length` bytes is taken up to its first zero byte and padded with zeros.
  void SetBody(const char* body_file, const char* reply_file, const char* text,
               int body_length, const char* before, const char* after) {
    body_file_path = body_file ? body_file : "";
    reply_file_path = reply_file ? reply_file : "";
    if (body_length > 0) {
      body_text.assign(static_cast<std::size_t>(body_length), '\0');
      if (text) {
        std::size_t n = strnlen(text, static_cast<std::size_t>(body_length));
        std::memcpy(body_text.data(), text, n);
      }
    }
    if (before) prefix = before;
    if (after) suffix = after;
  }

  // Takes the body file the caller holds open. Where the POST runs on the calling thread
  // its handle is read as it is; a worker that may outlive the call (abandoned after a
  // time-out) reads a handle and bytes of its own instead. False, with the error code in
  // `error`, when no such handle could be made.
  bool HoldBody(const HeldBody& body, bool on_worker, std::uint32_t& error) {
    held_body = body;
    if (!on_worker) return true;
    own_duplicate = body.file->Duplicate();
    if (!own_duplicate.IsOpen()) {
      error = static_cast<std::uint32_t>(platform::LastError());
      return false;
    }
    held_head.assign(body.head.data(), body.head.size());
    held_body.file = &own_duplicate;
    held_body.head = held_head;
    return true;
  }
};

}  // namespace vemtu
