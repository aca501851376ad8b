// The handles a library has handed out. A handle is the address of a shared object;
// every call looks it up and holds the object for its duration, so closing a handle
// while another thread still waits inside a call on it frees nothing under that call.
#pragma once

#include <map>
#include <memory>
#include <mutex>

namespace vemtu::inet {

class HandleObject {
 public:
  virtual ~HandleObject() = default;
  // Called when the handle is closed: end whatever waits on it.
  virtual void Cancel() {}
};

class HandleTable {
 public:
  void* Add(std::shared_ptr<HandleObject> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    void* handle = object.get();
    objects_[handle] = std::move(object);
    return handle;
  }

  // The object behind `handle` as a `T`; nullptr when the handle is unknown
  // (`known` false) or of another kind (`known` true).
  template <typename T>
  std::shared_ptr<T> Find(void* handle, bool* known) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    *known = it != objects_.end();
    return *known ? std::dynamic_pointer_cast<T>(it->second) : nullptr;
  }

  std::shared_ptr<HandleObject> Remove(void* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end()) return nullptr;
    std::shared_ptr<HandleObject> object = std::move(it->second);
    objects_.erase(it);
    return object;
  }

 private:
  std::mutex mutex_;
  std::map<void*, std::shared_ptr<HandleObject>> objects_;
};

}  // namespace vemtu::inet
