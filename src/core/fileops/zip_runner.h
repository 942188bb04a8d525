#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/fileops/zip_archive.h"

namespace kestrum {

// Runs one WriteZipArchive on a worker thread and keeps its latest progress for the window,
// which reads it on a timer. Start, Cancel, Wait and the readers are for one thread (the
// window's); the worker only writes the progress and the outcome.
class ZipRunner {
 public:
  struct Progress {
    std::string Item;
    int Percent = 0;
  };

  ZipRunner() = default;
  // Cancels a run still going and waits for it.
  ~ZipRunner();
  ZipRunner(const ZipRunner&) = delete;
  ZipRunner& operator=(const ZipRunner&) = delete;

  // Starts the run; false when one was already started.
  bool Start(std::string target, std::vector<ZipItem> items, ZipCompression compression = {},
             FileOpsSeam calls = SystemSeam());
  // Asks the run to stop; it ends within a moment, leaving no partial archive.
  void Cancel() { cancel_.store(true); }
  // True once Cancel was called; any thread may ask.
  bool CancelRequested() const { return cancel_.load(); }
  // Waits until the worker has ended (returns at once when none was started).
  void Wait();

  bool Started() const { return worker_.joinable() || finished_.load(); }
  // True once the run has ended; Outcome is then final.
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  const ZipOutcome& Outcome() const { return outcome_; }
  Progress Major() const;
  Progress Minor() const;

 private:
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> finished_{false};
  mutable std::mutex mutex_;
  Progress major_, minor_;
  ZipOutcome outcome_;  // written by the worker before finished_, read after
  std::string target_;
  std::vector<ZipItem> items_;
  ZipCompression compression_;
  FileOpsSeam calls_;
};

}  // namespace kestrum
