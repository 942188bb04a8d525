#pragma once
// The main window as the long commands see it: every call recorded, and the tasks workers
// post run by the test's thread, which plays the window thread.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/commands/command_slot.h"
#include "core/commands/command_window.h"
#include "support/test_support.h"

namespace kestrum::test {

class CommandRecorder : public CommandWindow {
 public:
  // Every call in order: "status:TEXT", "message:TEXT", "tree:on", "tree:off", "pathlabel",
  // "clearlist", "timer:on", "timer:off", "showroot", "shownode", "relist", "liststatus", "zip".
  std::vector<std::string> calls;
  std::vector<std::string> Questions, Details, Messages;
  std::vector<NodeId> shown;  // nodes shown after a command (ShowRoot: the first node)
  std::vector<ZipRequest> zips;
  bool Answer = true;               // the answer to Confirm
  bool Zipped = false;              // what the zip window reports
  std::function<void()> DuringZip;  // runs while the zip window is "open"
  bool Timer = false;
  int relists = 0;
  CExplorer* explorer = nullptr;  // for ShowRoot's node and a refresh's selection, when set
  std::shared_ptr<WindowQueue> queue = std::make_shared<WindowQueue>();

  CommandRecorder() {
    queue->Connect([this](std::function<void()> task) { tasks_.Post(std::move(task)); });
  }

  std::vector<NodeId> expanded;  // the last refresh's nodes to expand again
  void SetStatus(const std::string& t) override { calls.push_back("status:" + t); }
  void ShowMessage(const std::string& t) override {
    Messages.push_back(t);
    calls.push_back("message:" + t);
  }
  bool Confirm(const std::string& text, const std::string& details) override {
    Questions.push_back(text);
    Details.push_back(details);
    return Answer;
  }
  void SetTreeEnabled(bool e) override { calls.push_back(e ? "tree:on" : "tree:off"); }
  void ClearPathLabel() override { calls.push_back("pathlabel"); }
  void ClearList() override { calls.push_back("clearlist"); }
  void SetProgressTimer(bool r) override {
    Timer = r;
    calls.push_back(r ? "timer:on" : "timer:off");
  }
  void ShowRoot() override {
    shown.push_back(explorer ? explorer->FirstNode() : kNoNode);
    calls.push_back("showroot");
  }
  void ShowNode(NodeId n) override {
    shown.push_back(n);
    calls.push_back("shownode");
  }
  void Relist() override {
    ++relists;
    calls.push_back("relist");
  }
  void ShowListStatus() override { calls.push_back("liststatus"); }
  void ShowRefreshed(NodeId selected, const std::vector<NodeId>& expandedAgain) override {
    shown.push_back(selected);
    expanded = expandedAgain;
    if (explorer) explorer->SetSelectedItem(selected);
    calls.push_back("refreshed");
  }
  bool RunZipWindow(ZipRequest request) override {
    zips.push_back(std::move(request));
    calls.push_back("zip");
    if (DuringZip) DuringZip();
    return Zipped;
  }

  // The status lines, in order.
  std::vector<std::string> Statuses() const {
    std::vector<std::string> out;
    for (const std::string& c : calls)
      if (c.rfind("status:", 0) == 0) out.push_back(c.substr(7));
    return out;
  }
  bool Has(const std::string& c) const {
    return std::find(calls.begin(), calls.end(), c) != calls.end();
  }
  // Runs posted tasks until the slot is free.
  void Pump(const CommandSlot& slot) {
    tasks_.RunWhile([&] { return slot.Busy(); });
  }
  // Waits for the slot's worker, then runs every task it posted.
  void RunAll(CommandSlot& slot) {
    slot.Join();
    tasks_.RunPending();
  }

 private:
  WindowTasks tasks_;
};

}  // namespace kestrum::test
