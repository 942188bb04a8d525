#include "core/commands/window_queue.h"

#include <utility>

namespace kestrum {

void WindowQueue::Connect(Poster post) {
  std::lock_guard<std::mutex> g(lock_);
  post_ = std::move(post);
}

void WindowQueue::Disconnect() {
  std::lock_guard<std::mutex> g(lock_);
  post_ = nullptr;
}

bool WindowQueue::Connected() const {
  std::lock_guard<std::mutex> g(lock_);
  return static_cast<bool>(post_);
}

bool WindowQueue::Post(std::function<void()> task) {
  // Held while posting, so that Disconnect cannot return while a task is being handed over.
  std::lock_guard<std::mutex> g(lock_);
  if (!post_) return false;
  post_(std::move(task));
  return true;
}

}  // namespace kestrum
