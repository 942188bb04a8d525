// Times the refresh of one folder in a scanned drive against the headless report of that
// folder, alternated, in one process (no process start on either side).
//   refresh_bench ROOT FOLDER [RUNS]   (FOLDER below ROOT; RUNS each, default 5)
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/commands/attach_scan.h"
#include "core/commands/disk_loader.h"
#include "core/commands/refresh_command.h"
#include "core/tree/discovery.h"
#include "core/app/report_text.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"

namespace {

using namespace kestrum;
using Clock = std::chrono::steady_clock;

// The window thread: tasks the worker posts, run by main.
class Tasks {
 public:
  void Post(std::function<void()> t) {
    std::lock_guard lock(m_);
    q_.push_back(std::move(t));
    cv_.notify_one();
  }
  void RunWhile(const std::function<bool()>& busy) {
    while (busy()) {
      std::function<void()> t;
      {
        std::unique_lock lock(m_);
        cv_.wait_for(lock, std::chrono::milliseconds(5), [this] { return !q_.empty(); });
        if (q_.empty()) continue;
        t = std::move(q_.front());
        q_.pop_front();
      }
      t();
    }
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> q_;
};

class QuietWindow : public CommandWindow {
 public:
  void SetStatus(const std::string&) override {}
  void ShowMessage(const std::string& m) override { std::fprintf(stderr, "%s\n", m.c_str()); }
  bool Confirm(const std::string&, const std::string&) override { return false; }
  void SetTreeEnabled(bool) override {}
  void ClearPathLabel() override {}
  void ClearList() override {}
  void SetProgressTimer(bool) override {}
  void ShowRoot() override {}
  void ShowNode(NodeId) override {}
  void Relist() override {}
  void ShowListStatus() override {}
  void ShowRefreshed(NodeId, const std::vector<NodeId>&) override {}
  bool RunZipWindow(ZipRequest) override { return false; }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: refresh_bench ROOT FOLDER [RUNS]\n", stderr);
    return 2;
  }
  const std::string rootPath = argv[1], folderPath = argv[2];
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  FileSystemService fs;
  SystemDriveSource drives(fs);
  Tasks tasks;
  auto queue = std::make_shared<WindowQueue>();
  queue->Connect([&tasks](std::function<void()> t) { tasks.Post(std::move(t)); });
  QuietWindow window;
  CExplorer explorer;
  CommandSlot slot(queue);
  DiskCollection disks;
  auto r = std::make_unique<DiskObject>();
  r->Class = ObjectClass::Root;
  r->SetPath("My Computer");
  DiskObject* root = disks.Add(std::move(r));
  root->Node = explorer.AddNode(root->Label(), ItemValue(root), true);
  auto d = std::make_unique<DiskObject>();
  d->Class = ObjectClass::Drive;
  d->SetPath(rootPath);
  d->DriveForChange().RootFolder = rootPath + "/";
  d->Parent = root;
  d->DriveForChange().FolderEntry = true;  // readiness: the folder is there
  DiskObject* drive = disks.Add(std::move(d));
  drive->Node = explorer.AddNode(drive->Label(), ItemValue(drive), true, root->Node);
  DiskLoader loader(window, explorer, drives, slot);
  RefreshCommand refresher(window, explorer, drives, slot);
  loader.LoadDisk(drive, disks, false);
  tasks.RunWhile([&] { return slot.Busy(); });
  // Found by a walk, as the window holds its folders by their objects: FolderList::Find
  // would build the path index, which the window never asks for and a refresh then keeps.
  DiskObject* folder = nullptr;
  for (const auto& f : drive->DiskObjects())
    if (!folder && f->Path() == folderPath + "/") folder = f.get();
  if (!folder) {
    std::fprintf(stderr, "%s is no folder of the scan of %s\n", folderPath.c_str(),
                 rootPath.c_str());
    return 1;
  }
  std::printf("drive: %zu folders; %s: %d folders, %d files\n", drive->DiskObjects().Count(),
              folderPath.c_str(), folder->FolderCount, folder->FileCount);
  std::vector<double> refresh, report;
  for (int i = 0; i < runs; ++i) {
    for (int k = 0; k < 2; ++k) {
      const bool doRefresh = (i + k) % 2 == 0;
      const auto t0 = Clock::now();
      if (doRefresh) {
        refresher.Refresh(folder);  // a refresh keeps the folder's object
        tasks.RunWhile([&] { return slot.Busy(); });
      } else {
        std::string out;
        RunReport(fs, folderPath, out, {});
      }
      const double s = std::chrono::duration<double>(Clock::now() - t0).count();
      (doRefresh ? refresh : report).push_back(s);
    }
  }
  std::printf("refresh:");
  for (double s : refresh) std::printf(" %.2f", s * 1000);
  std::printf("\nreport: ");
  for (double s : report) std::printf(" %.2f", s * 1000);
  std::printf(" (ms)\nmedians: refresh %.2f ms, report %.2f ms, ratio %.2f\n",
              Median(refresh) * 1000, Median(report) * 1000, Median(refresh) / Median(report));
  return 0;
}
