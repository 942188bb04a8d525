// Times how long a scan takes to end after Stop: starts the scan of ROOT on a worker, clears
// Scanning after a delay from this thread and measures until ScanDrive has returned.
//   stop_bench ROOT [THREADS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"

int main(int argc, char** argv) {
  using namespace kestrum;
  using Clock = std::chrono::steady_clock;
  if (argc < 2) return 2;
  const unsigned threads = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 0;
  for (int delayMs : {50, 300, 900}) {
    DiskObject drive;
    drive.Class = ObjectClass::Drive;
    drive.DriveForChange().RootFolder = std::string(argv[1]) + "/";
    drive.DriveForChange().AllocationUnit = 4096;
    std::int32_t keys = 0;
    ScanOptions o;
    o.Threads = threads;
    Scanning = true;
    Clock::time_point returned;
    std::thread worker([&] {
      ScanDrive(drive, keys, o);
      returned = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    const Clock::time_point stopped = Clock::now();
    Scanning = false;
    worker.join();
    SummarizeSizes(drive);
    std::printf("stop after %4d ms: returned %.1f ms later, %zu folders, %zu largest\n", delayMs,
                std::chrono::duration<double, std::milli>(returned - stopped).count(),
                drive.DiskObjects().Count(), drive.LargestFiles().Count());
  }
  return 0;
}
