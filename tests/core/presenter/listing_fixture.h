#pragma once
// A presenter over one real temporary drive, scanned by the loading flow, with the window
// played by recorders: what the listing, navigation and statistics tests share.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/commands/status_texts.h"
#include "core/scan/scanning.h"
#include "core/presenter/main_presenter.h"
#include "core/presenter/navigation.h"
#include "core/rows/pie_data.h"
#include "core/saved/json_export.h"
#include "support/test_support.h"

namespace kestrum::test {

class ViewRecorder : public MainView {
 public:
  std::vector<std::string> status, paths, opened;
  std::vector<bool> openedAsTrash;
  std::vector<PieChartData> charts;
  std::vector<std::string> questions;  // every confirmation asked; each is answered no
  std::vector<std::string> details;    // and the details of each
  int popups = 0, chartHides = 0;
  std::size_t currentRow = 0;  // the row the list's cursor is on
  std::size_t CurrentListRow() const override { return currentRow; }
  void SetStatus(const std::string& t) override { status.push_back(t); }
  void SetPathLabel(const std::string& t) override { paths.push_back(t); }
  std::vector<std::string> messages, clipboard;  // clipboard: text, then the URI list
  void ShowMessage(const std::string& t) override { messages.push_back(t); }
  void SetClipboard(const std::string& text, const std::string& uris) override {
    clipboard = {text, uris};
  }
  std::string exportFile;  // the answer to "Export Scan..."'s question
  std::string AskExportFile(const std::string&) override { return exportFile; }
  void SetTreeEnabled(bool) override {}
  void SelectNode(NodeId) override {}
  void ExpandNode(NodeId) override {}
  void CloseWindow() override {}
  void ShowBars(bool, bool) override {}
  void SyncToggles() override {}
  void ShowPieChart(const PieChartData& c) override { charts.push_back(c); }
  void HidePieChart() override { ++chartHides; }
  void PopupFileMenu() override { ++popups; }
  bool confirmYes = false;  // how every confirmation is answered
  bool Confirm(const std::string& text, const std::string& detail) override {
    questions.push_back(text);
    details.push_back(detail);
    return confirmYes;
  }
  // The Find dialog and "Files Larger Than...": each answers with these (none: cancelled),
  // and records what its check said of them.
  std::optional<SearchForm> searchAnswer;
  std::optional<std::string> sizeAnswer;
  std::string searchFolder, checked;
  bool AskSearch(SearchForm& form, const std::string& folder,
                 const std::function<std::string(const SearchForm&)>& check) override {
    searchFolder = folder;
    if (!searchAnswer) return false;
    checked = check(*searchAnswer);
    if (!checked.empty()) return false;  // the dialog stays open; here: cancelled after
    form = *searchAnswer;
    return true;
  }
  bool AskSize(std::string& text,
               const std::function<std::string(const std::string&)>& check) override {
    if (!sizeAnswer) return false;
    checked = check(*sizeAnswer);
    if (!checked.empty()) return false;
    text = *sizeAnswer;
    return true;
  }
  // The exclude rules dialog: shown what it was given, answers with excludeAnswer (none:
  // cancelled) when its check passes.
  std::optional<ExcludeForm> excludeShown, excludeAnswer;
  bool EditExcludeRules(ExcludeForm& form,
                        const std::function<std::string(const ExcludeForm&)>& check) override {
    excludeShown = form;
    if (!excludeAnswer) return false;
    checked = check(*excludeAnswer);
    if (!checked.empty()) return false;
    form = *excludeAnswer;
    return true;
  }
  bool ShellOpen(const std::string& path, bool trash) override {
    opened.push_back(path);
    openedAsTrash.push_back(trash);
    return true;
  }
};

class FixedDrive : public DriveSource {
 public:
  double Total = 1e9, Free = 4e8;
  bool IsReady(const std::string&) const override { return true; }
  std::int32_t AllocUnit(const std::string&) const override { return 4096; }
  void Space(const std::string&, double& total, double& free, const MessageSink&) const override {
    total = Total;
    free = Free;
  }
};

// The saved scan of folder as the export writes it, read now.
inline std::string SavedScanText(const std::string& folder) {
  std::string text, error;
  Scanning = true;
  ExportTree(
      folder,
      [&text](std::string_view piece) {
        text.append(piece);
        return true;
      },
      error);
  Scanning = false;
  return text;
}

struct ListingWorld {
  TempDir dir;
  std::string drivePath;
  ViewRecorder view;
  test::WindowTasks tasks;
  FixedDrive source;
  std::unique_ptr<MainPresenter> p;
  DiskObject* drive = nullptr;

  // make fills the drive's folder before the scan, which leaves out what excludes says.
  explicit ListingWorld(const std::function<void(const TempDir&, const std::string&)>& make,
                        std::shared_ptr<const ExcludeRules> excludes = nullptr,
                        bool crossFileSystems = false) {
    Scanning = false;
    drivePath = dir.Mkdir("drive");
    make(dir, drivePath);
    const std::string table =
        dir.Write("mountinfo", "1 0 8:1 / " + drivePath + " rw - ext4 /dev/sdz1 rw\n");
    const std::string base = dir.Path();
    p = std::make_unique<MainPresenter>(
        view, [table, base] { return test::VolumesFromTable(table, base); }, &source);
    p->LoadDisks();
    drive = p->DiskList()->Item(2);
    p->Loader()->Excludes = std::move(excludes);
    p->Loader()->CrossFileSystems = crossFileSystems;
    Run([this] { p->Loader()->LoadDisk(drive, *p->DiskList(), false); });
  }
  ~ListingWorld() { Scanning = false; }

  // Runs what starts a long command and waits, as the window thread would, until it and the
  // listings it starts have ended: their results reach this thread through the queue. Without
  // a window afterwards, listings are read on the caller's thread.
  template <typename Start>
  void Run(Start&& start) {
    p->Queue()->Connect([this](std::function<void()> task) { tasks.Post(std::move(task)); });
    start();
    tasks.RunWhile([this] { return p->Slot().Busy() || p->ListingPending(); });
    p->Queue()->Disconnect();
  }

  CExplorer& Ex() { return p->Explorer(); }
  const ListData& List() { return p->List(); }
  NodeId Root() { return Ex().FirstNode(); }
  NodeId DriveNode() { return drive->Node; }
  NodeId RootFolderNode() { return Ex().Node(DriveNode())->Kids.front(); }
  // The child of parent whose text is text, its children fetched as a view showing them does.
  NodeId Child(NodeId parent, const std::string& text) {
    Ex().FetchChildren(parent);
    for (NodeId k : Ex().Node(parent)->Kids)
      if (Ex().Node(k)->Text == text) return k;
    return kNoNode;
  }
  DiskObject* Object(NodeId n) { return std::get<DiskObject*>(Ex().ItemData(n)); }
  // A click on node in the tree.
  void TreeClick(NodeId n) {
    Ex().SetSelectedItem(n);
    p->tvTreeView_Click();
  }
  // A click with button (and no modifier) on the 1-based row.
  void RowClick(std::size_t row, int button = kLeftButton, int shift = 0) {
    lvListView_MouseUp(*p, button, shift);
    lvListView_Click(*p, row);
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const ListRow& r : List().Rows()) out.push_back(r.Text);
    return out;
  }
  std::vector<std::string> Column(std::size_t c) {
    std::vector<std::string> out;
    for (const ListRow& r : List().Rows()) out.push_back(r.Cell(c));
    return out;
  }
  std::vector<std::string> Headers() {
    std::vector<std::string> out;
    for (const ListColumn& c : List().Columns()) out.push_back(c.Text);
    return out;
  }
  std::size_t RowOf(const std::string& text) {
    const auto& rows = List().Rows();
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i].Text == text) return i + 1;
    return 0;
  }
  const ListRow& Row(const std::string& text) { return List().Rows().at(RowOf(text) - 1); }
};

}  // namespace kestrum::test
