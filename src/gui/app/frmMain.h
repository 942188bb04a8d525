#pragma once
#include <QDialog>
#include <QDockWidget>
#include <QPointer>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/presenter/actions.h"
#include "core/presenter/layout.h"
#include "core/presenter/main_presenter.h"
#include "core/presenter/placement.h"
#include "gui/controls/list_model.h"
#include "gui/controls/pie_chart.h"
#include "gui/controls/tree_model.h"
#include "gui/controls/treemap_view.h"
#include "gui/controls/types_view.h"

namespace kestrum::gui {

class PropertiesSheet;
class frmZip;
class frmCommandOutput;

// The main window. It owns the widgets, converts twips at the screen's logical DPI and
// forwards every event to the presenter, which holds the rules.
class frmMain : public QMainWindow, public MainView {
  Q_OBJECT
 public:
  // settingsPath: the per-user settings file holding the window placement.
  explicit frmMain(std::string settingsPath, MainPresenter::FileSysFactory makeFileSys = {},
                   QWidget* parent = nullptr);
  ~frmMain() override;

  // The load event: caption, placement, show, first discovery.
  void Form_Load();

  MainPresenter& Presenter() { return *presenter_; }
  QAction* Action(const std::string& name) const;  // a menu entry by name
  QAction* Button(const std::string& key) const;   // a toolbar button by key
  QTreeView* tvTreeView() const { return tree_; }
  QTreeView* lvListView() const { return list_; }
  QLabel* lbPathLabel() const { return pathLabel_; }
  QToolBar* tbToolbar() const { return toolbar_; }
  QStatusBar* sbStatusBar() const { return statusBar_; }
  QLabel* Panel(const std::string& key) const;
  QWidget* imgSplitter() const { return splitter_; }
  QWidget* picSplitter() const { return dragBar_; }
  TreeModel* treeModel() const { return treeModel_; }
  const LayoutResult& LastLayout() const { return layout_; }
  double Dpi() const;

  // The zip window while it is open (tests drive it), else nullptr.
  frmZip* ZipWindow() const { return zipWindow_; }
  // The folders given on the command line: MainPresenter::ScanFolders.
  void ScanFolders(const std::vector<std::string>& paths) { presenter_->ScanFolders(paths); }
  // The saved scans given on the command line: ImportScans.
  void ImportScans(const std::vector<std::string>& files);
  // "&About Kestrum...": the About window, modal and owned by this window; returned so that
  // callers and tests can reach it.
  QDialog* ShowAbout();

  // Lays the window out with the splitter at x twips.
  void SizeControls(double x);

  // MainView
  void SetStatus(const std::string& text) override;
  void SetPathLabel(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void SetTreeEnabled(bool enabled) override;
  void SelectNode(NodeId node) override;
  void ExpandNode(NodeId node) override;
  void CloseWindow() override;
  void ShowBars(bool toolbar, bool statusBar) override;
  void SyncToggles() override;
  void ShowPieChart(const PieChartData& chart) override;
  void HidePieChart() override;
  void PopupFileMenu() override;
  bool ShellOpen(const std::string& path, bool trashView) override;
  void SelectListRow(std::size_t row) override;
  void TreemapChanged() override { treemap_->MapChanged(); }
  void TreemapHighlightChanged() override { treemap_->HighlightChanged(); }
  // The "File Types" pane, docked at the window's right.
  void TypesChanged() override;
  // The treemap pane below the list, and the share of the list's height it takes.
  TreemapView* Treemap() const { return treemap_; }
  TypesView* Types() const { return types_; }
  QDockWidget* TypesDock() const { return typesDock_; }
  double TreemapSplit() const { return presenter_->MapPane().Split; }

  PieChartView* Graph() const { return chart_; }
  QMenu* FileMenuPopup() const { return fileMenu_; }
  ListModel* listModel() const { return listModel_; }
  // How folders are opened in the file manager; tests replace it with a recorder.
  std::function<bool(const std::string& path, bool trashView)> ShellOpener;

  void SetClipboard(const std::string& text, const std::string& uriList) override;
  std::shared_ptr<CommandOutput> OpenCommandOutput(const std::string& title) override;
  bool EditUserCommands(std::vector<UserCommand>& commands) override;
  bool EditExcludeRules(ExcludeForm& form,
                        const std::function<std::string(const ExcludeForm&)>& check) override;
  void UserCommandsChanged() override { BuildUserCommandEntries(); }
  // The output window of the last user command run, while it is open.
  frmCommandOutput* LastOutputWindow() const;
  // The menu of that name ("mnuFile", "mnuTools", "FileMenu"), or nullptr.
  QMenu* MenuNamed(const std::string& name) const;

  bool Confirm(const std::string& text, const std::string& details) override;
  void SetProgressTimer(bool running) override;
  bool RunZipWindow(ZipRequest request) override;
  void ShowProperties(const RowTarget& target) override;
  std::size_t CurrentListRow() const override;  // 1-based, 0 when none
  std::string AskFolder() override;
  bool AskSearch(SearchForm& form, const std::string& folder,
                 const std::function<std::string(const SearchForm&)>& check) override;
  CompareChoice AskCompare(const CompareOffer& offer) override;
  bool AskSize(std::string& text,
               const std::function<std::string(const std::string&)>& check) override;
  std::vector<std::string> AskScanFiles() override;
  std::string AskExportFile(const std::string& folder) override;
  void OpenHelpContents() override;
  void OpenHelpSearch() override;
  void OpenAbout() override { ShowAbout(); }

  DiskLoader* Loader() const { return presenter_->Loader(); }
  // The slot every long command runs in; its Busy() is the guard of every command.
  CommandSlot& Slot() { return presenter_->Slot(); }
  // The properties sheets (the file manager's, or Kestrum's own window).
  PropertiesSheet* Sheets() const { return sheets_.get(); }
  QTimer& ProgressTimer() { return progressTimer_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void AddEntries(QMenu* menu, const Menu& m);
  // The entries of the user's enabled commands in the row menu and the Tools menu, made again.
  void BuildUserCommandEntries();
  // Shows key beside a row menu entry, acting only while the menu is open.
  static void RowMenuKey(QAction* a, const char* key);
  void BuildToolbar();
  void BuildStatusBar();
  void RestorePlacement();
  void SavePlacement();
  // The columns of a new listing or of rows just shown: what each wants, then fitted.
  void ApplyColumns();
  // The columns fitted to the list's width as it is now (ColumnFit).
  void FitListColumns();
  void UpdateClock();
  void WireList();
  void SelectMarkedRows();
  QRect ToPixels(const Rect& r) const;
  double ToTwips(int px) const;

  std::string settingsPath_;
  std::unique_ptr<MainPresenter> presenter_;
  std::unique_ptr<PropertiesSheet> sheets_;
  QTimer progressTimer_;
  QWidget* surface_;
  QToolBar* toolbar_;
  QTreeView* tree_;
  QLabel* pathLabel_;
  QTreeView* list_;
  QWidget* graph_;
  PieChartView* chart_ = nullptr;
  QMenu* fileMenu_ = nullptr;
  QWidget* splitter_;
  QWidget* dragBar_;
  QStatusBar* statusBar_;
  std::map<std::string, QLabel*> panels_;
  std::map<std::string, QAction*> actions_;
  std::map<std::string, QAction*> buttons_;
  TreeModel* treeModel_;
  ListModel* listModel_;
  QTimer clock_;
  LayoutResult layout_;
  // The placement read at start and the pixel geometry it became: written back unchanged
  // when the window was not moved, so that rounding to pixels does not creep run by run.
  Placement restored_;
  QRect restoredPx_;
  bool firstLayout_ = true;  // the tree view's "Start" tag
  bool moving_ = false;
  bool loaded_ = false;
  bool fittingColumns_ = false;  // the columns' widths are being set here, not by the user
  bool headerPressed_ = false;   // a mouse button is down on the list's header
  frmZip* zipWindow_ = nullptr;
  QPointer<frmCommandOutput> lastOutput_;
  std::map<std::string, QMenu*> menus_;
  std::vector<QAction*> userEntries_;
  TreemapView* treemap_;
  QDockWidget* typesDock_ = nullptr;
  TypesView* types_ = nullptr;
  SplitHandle* treemapHandle_;
};

}  // namespace kestrum::gui
