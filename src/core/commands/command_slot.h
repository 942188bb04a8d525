#pragma once
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/commands/window_queue.h"

namespace kestrum {

// The one slot that every long command of the main window runs in (drive scans, folder
// scans, delete, trash, zip): a busy flag, one worker thread, Stop, and results posted back
// to the window thread. Every "refused while busy" guard reads Busy(); a command given while
// the slot is taken is refused, never queued.
//
// Stop is the process flag Scanning: a command that can be stopped sets it when it starts
// work and tests it between steps; Stop (the toolbar's "Stop", "S&top Scan", closing the
// window) clears it.
//
// Threads: everything but Post and StopRequested is called on the window thread.
class CommandSlot {
 public:
  // Results reach the window thread through queue.
  explicit CommandSlot(std::shared_ptr<WindowQueue> queue);
  // Stops a running command and waits for its worker; tasks it posted and that have not
  // run yet are dropped.
  ~CommandSlot();
  CommandSlot(const CommandSlot&) = delete;
  CommandSlot& operator=(const CommandSlot&) = delete;

  // True from Acquire until Release.
  bool Busy() const { return busy_; }
  // Takes the slot for a command; false, changing nothing, when it is taken.
  bool Acquire();
  // Frees the slot: the command's final steps have run on the window thread.
  void Release();
  // Runs work on the worker thread, after waiting for the previous worker to end (it has
  // posted its last task by then). The slot must be held.
  void Run(std::function<void()> work);
  // Waits for the worker, if any.
  void Join();
  // Asks the running command to stop (clears Scanning).
  static void Stop();
  // True once Stop was asked (any thread).
  static bool StopRequested();
  // Any thread: runs task on the window thread, unless the slot is gone by then.
  void Post(std::function<void()> task);

  // The progress line of the running command, for the one-second timer; "" when none.
  std::string ProgressLine() const { return Progress ? Progress() : std::string(); }
  // Set by the command that holds the slot.
  std::function<std::string()> Progress;

 private:
  std::shared_ptr<WindowQueue> queue_;
  std::thread worker_;
  bool busy_ = false;
  // Posted tasks hold a weak reference: after destruction they do nothing.
  std::shared_ptr<CommandSlot*> alive_;
};

}  // namespace kestrum
