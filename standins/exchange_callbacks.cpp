// curl's callbacks of an exchange, on the thread that drives the transfer: the body
// handed to curl, the reply taken from it, and the sockets it opens and closes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "exchange.h"
#include "response_head.h"

namespace vemtu::inet {

size_t Exchange::OnRead(char* buffer, size_t size, size_t count, void* self) {
  auto& x = *static_cast<Exchange*>(self);
  std::lock_guard<std::mutex> lock(x.mutex_);
  if (x.aborted_) return CURL_READFUNC_ABORT;
  // After a rewind, the bytes taken before go out again first.
  if (x.replay_offset_ < x.taken_.size()) {
    std::size_t part = std::min(size * count, x.taken_.size() - x.replay_offset_);
    std::memcpy(buffer, x.taken_.data() + x.replay_offset_, part);
    x.replay_offset_ += part;
    x.Touch();
    return part;
  }
  if (x.queue_.empty()) {
    if (!x.body_closed_) {
      x.send_paused_ = true;  // resumed when the caller hands over more
      return CURL_READFUNC_PAUSE;
    }
    // The caller ended the body before handing over all it declared.
    return x.accepted_ < x.settings_.body_length ? CURL_READFUNC_ABORT : 0;
  }
  // Whatever is queued, up to curl's buffer: a caller that pauses between writes has
  // one chunk queued at a time, so its chunks go out one by one as written.
  std::size_t room = size * count;
  std::size_t take = 0;
  while (take < room && !x.queue_.empty()) {
    const std::string& front = x.queue_.front();
    std::size_t part = std::min(room - take, front.size() - x.queue_offset_);
    std::memcpy(buffer + take, front.data() + x.queue_offset_, part);
    take += part;
    x.queue_offset_ += part;
    if (x.queue_offset_ == front.size()) {
      x.queue_.pop_front();
      x.queue_offset_ = 0;
    }
  }
  x.queued_bytes_ -= take;
  if (x.rewindable_ && x.taken_.size() + take <= kRewindLimit) {
    x.taken_.append(buffer, take);
  } else {
    x.rewindable_ = false;
    std::string().swap(x.taken_);
  }
  x.replay_offset_ = x.taken_.size();
  x.Touch();
  return take;
}

int Exchange::OnSeek(void* self, curl_off_t offset, int origin) {
  auto& x = *static_cast<Exchange*>(self);
  std::lock_guard<std::mutex> lock(x.mutex_);
  if (offset != 0 || origin != SEEK_SET || !x.rewindable_) return CURL_SEEKFUNC_CANTSEEK;
  x.replay_offset_ = 0;
  x.body_sent_ = x.settings_.body_length == 0;  // the body goes out again, whole or not
  return CURL_SEEKFUNC_OK;
}

size_t Exchange::OnWrite(char* data, size_t size, size_t count, void* self) {
  auto& x = *static_cast<Exchange*>(self);
  std::size_t bytes = size * count;
  std::lock_guard<std::mutex> lock(x.mutex_);
  x.body_started_ = true;
  x.Touch();
  if (x.aborted_) return 0;
  if (x.reply_.size() - x.reply_offset_ >= kReplyLimit) {
    x.receive_paused_ = true;  // curl keeps the bytes until the reader makes room
    return CURL_WRITEFUNC_PAUSE;
  }
  if (x.reply_offset_ > 0 && x.reply_offset_ * 2 >= x.reply_.size()) {
    x.reply_.erase(0, x.reply_offset_);
    x.reply_offset_ = 0;
  }
  x.reply_.append(data, bytes);
  x.reply_received_ += bytes;
  return bytes;
}

size_t Exchange::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto& x = *static_cast<Exchange*>(self);
  std::size_t bytes = size * count;
  std::string line(data, bytes);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::lock_guard<std::mutex> lock(x.mutex_);
  x.Touch();
  if (StartsWith(line, "HTTP/")) {
    x.reply_received_ = 0;
    x.head_in_progress_ = line + "\r\n";
    std::size_t space = line.find(' ');
    x.status_in_progress_ = space == std::string::npos ? 0 : std::strtol(line.c_str() + space + 1, nullptr, 10);
  } else if (line.empty()) {
    // The end of a head: informational heads (1xx) and trailers are not the reply.
    if (x.status_in_progress_ >= 200) {
      x.head_ = x.head_in_progress_ + "\r\n";
      x.status_ = x.status_in_progress_;
      x.sockets_->ReplyArrived();
    }
    x.head_in_progress_.clear();
    x.status_in_progress_ = 0;
  } else {
    x.head_in_progress_ += line + "\r\n";
  }
  return bytes;
}

int Exchange::OnPrereq(void* self, char*, char*, int, int) {
  auto& x = *static_cast<Exchange*>(self);
  std::lock_guard<std::mutex> lock(x.mutex_);
  x.connected_ = true;
  x.Touch();
  return CURL_PREREQFUNC_OK;
}

int Exchange::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
  auto& x = *static_cast<Exchange*>(self);
  std::lock_guard<std::mutex> lock(x.mutex_);
  if (static_cast<std::uint64_t>(sent) >= x.settings_.body_length) x.body_sent_ = true;
  return x.aborted_ ? 1 : 0;
}

curl_socket_t Exchange::OnOpenSocket(void* sockets, curlsocktype, curl_sockaddr* address) {
  int fd = static_cast<SocketTracker*>(sockets)->Open(address->family, address->socktype,
                                                      address->protocol);
  return fd < 0 ? CURL_SOCKET_BAD : fd;
}

int Exchange::OnCloseSocket(void* sockets, curl_socket_t fd) {
  static_cast<SocketTracker*>(sockets)->Close(fd);
  return 0;
}

}  // namespace vemtu::inet
