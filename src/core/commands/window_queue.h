#pragma once
#include <functional>
#include <mutex>

namespace kestrum {

// The one way from a worker thread to the window thread: tasks posted here run later on the
// window thread, in the order they were posted. The window connects it when it is up and
// disconnects it before it goes; from then on posted tasks are dropped, so a worker that
// outlives the window (one stuck reading a dead file server) does no harm. Shared between
// the presenter, the command slot and every worker still running.
class WindowQueue {
 public:
  using Poster = std::function<void(std::function<void()>)>;

  // post hands a task to the window thread's event queue. Window thread.
  void Connect(Poster post);
  // Drops the connection: later tasks are not run. Window thread.
  void Disconnect();
  bool Connected() const;
  // Any thread: queues task for the window thread; false, dropping it, when not connected.
  bool Post(std::function<void()> task);

 private:
  mutable std::mutex lock_;
  Poster post_;
};

}  // namespace kestrum
