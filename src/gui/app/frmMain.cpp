#include "gui/app/frmMain.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <iostream>

#include "core/platform/settings.h"
#include "core/presenter/actions.h"
#include "core/presenter/layout.h"
#include "core/presenter/listing.h"
#include "core/presenter/navigation.h"
#include "core/presenter/placement.h"
#include "core/presenter/saved_scans.h"
#include "core/trace/trace.h"
#include "gui/app/properties_sheet.h"
#include "gui/controls/accessibility.h"
#include "gui/controls/bar_delegate.h"
#include "gui/controls/column_widths.h"
#include "gui/controls/icons.h"
#include "gui/controls/shell_open.h"
#include "gui/controls/text.h"
#include "gui/ui/ContextIDs.h"
#include "gui/ui/FunctionKeys.h"
#include "gui/ui/frmAbout.h"
#include "gui/ui/frmCommandOutput.h"
#include "gui/ui/frmCommands.h"
#include "gui/ui/frmCompare.h"
#include "gui/ui/frmExcludes.h"
#include "gui/ui/frmFind.h"
#include "gui/ui/frmZip.h"
#include "kestrum_version.h"

namespace kestrum::gui {

namespace {
// The window frame the layout's width allowance was made for, used when the window system
// reports no frame of its own (no window manager).
constexpr double kNominalFrameTwips = 120;
}  // namespace

frmMain::frmMain(std::string settingsPath, MainPresenter::FileSysFactory makeFileSys,
                 QWidget* parent)
    : QMainWindow(parent), settingsPath_(std::move(settingsPath)) {
  setObjectName("frmMain");
  InstallAccessibility();
  if (!makeFileSys) makeFileSys = [] { return std::make_unique<FileSystemService>(); };
  presenter_ = std::make_unique<MainPresenter>(*this, std::move(makeFileSys));
  presenter_->SetSettingsFile(settingsPath_);
  progressTimer_.setInterval(1000);
  connect(&progressTimer_, &QTimer::timeout, this, [this] { presenter_->ShowProgress(); });

  surface_ = new QWidget(this);
  setCentralWidget(surface_);

  toolbar_ = new QToolBar(surface_);
  toolbar_->setObjectName("tbToolbar");
  tree_ = new QTreeView(surface_);
  tree_->setObjectName("tvTreeView");
  pathLabel_ = new QLabel(surface_);
  pathLabel_->setObjectName("lbPathLabel");
  pathLabel_->setTextFormat(Qt::PlainText);
  pathLabel_->setContentsMargins(2, 3, 2, 3);
  list_ = new QTreeView(surface_);
  list_->setObjectName("lvListView");
  graph_ = chart_ = new PieChartView(surface_);
  graph_->hide();
  splitter_ = new QWidget(surface_);
  splitter_->setObjectName("imgSplitter");
  splitter_->setCursor(Qt::SplitHCursor);
  splitter_->setAccessibleName("Splitter");
  splitter_->installEventFilter(this);
  dragBar_ = new QWidget(surface_);
  dragBar_->setObjectName("picSplitter");
  dragBar_->setAutoFillBackground(true);
  QPalette pal = dragBar_->palette();
  pal.setColor(QPalette::Window, QColor(128, 128, 128));
  dragBar_->setPalette(pal);
  dragBar_->hide();
  treemap_ = new TreemapView(*presenter_, surface_);
  treemap_->hide();
  typesDock_ = new QDockWidget("File Types", this);
  typesDock_->setObjectName("dockTypes");
  // Shown and hidden from the View menu alone, so the menu's check never disagrees with it.
  typesDock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  types_ = new TypesView(*presenter_, typesDock_);
  typesDock_->setWidget(types_);
  addDockWidget(Qt::RightDockWidgetArea, typesDock_);
  typesDock_->hide();
  treemapHandle_ = new SplitHandle(surface_);
  treemapHandle_->hide();
  connect(treemapHandle_, &SplitHandle::dragged, this, [this](int y) {
    // The pane keeps its share of the right side as the handle goes.
    const QRect right = ToPixels(layout_.List);
    if (right.height() <= 0) return;
    SetTreemapSplit(*presenter_, double(right.bottom() - y) / right.height());
    SizeControls(layout_.Splitter);
  });
  connect(treemapHandle_, &SplitHandle::released, this, [this] { presenter_->KeepSettings(); });
  statusBar_ = new QStatusBar(surface_);
  statusBar_->setObjectName("sbStatusBar");
  statusBar_->setSizeGripEnabled(false);

  treeModel_ = new TreeModel(presenter_->Explorer(), this);
  tree_->setModel(treeModel_);
  tree_->setHeaderHidden(true);
  tree_->setUniformRowHeights(true);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->installEventFilter(this);
  listModel_ = new ListModel(presenter_->List(), this);
  list_->setModel(listModel_);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->installEventFilter(this);
  list_->header()->setVisible(false);  // until the list has columns
  connect(listModel_, &ListModel::ColumnsReset, this, &frmMain::ApplyColumns);
  WireList();

  CExplorer& ex = presenter_->Explorer();
  connect(tree_, &QTreeView::expanded, this, [this](const QModelIndex& i) {
    presenter_->Explorer().TV_Expand(treeModel_->NodeAt(i));
  });
  connect(tree_, &QTreeView::collapsed, this, [this](const QModelIndex& i) {
    presenter_->Explorer().TV_Collapse(treeModel_->NodeAt(i));
  });
  connect(tree_, &QTreeView::clicked, this, [this, &ex](const QModelIndex& i) {
    ex.SetSelectedItem(treeModel_->NodeAt(i));
    ex.TV_NodeClick(treeModel_->NodeAt(i));
    presenter_->tvTreeView_Click();
  });
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this, &ex](const QModelIndex& i) { ex.SetSelectedItem(treeModel_->NodeAt(i)); });

  sheets_ = std::make_unique<PropertiesSheet>(this);
  presenter_->SetLauncher(std::make_unique<DesktopLauncher>());
  presenter_->LoadUserCommands(settingsPath_);

  BuildMenus();
  BuildToolbar();
  BuildStatusBar();
  setWindowTitle(version::Product);
  setWindowIcon(IconFor(QString("Kestrum")));
  setMinimumWidth(TwipsToPixels(layout::kMinWindowWidth, Dpi()));

  if (QAction* a = Action("mnuScanFolder")) a->setShortcut(QKeySequence::Open);
  if (QAction* a = Action("mnuViewRefresh")) a->setShortcut(QKeySequence(Qt::Key_F5));
  if (QAction* a = Action("mnuViewTreemap")) a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
  if (QAction* a = Action("mnuOpenScan")) a->setShortcut(QKeySequence("Ctrl+Shift+O"));
  InstallF12(this);
}

QDialog* frmMain::ShowAbout() {
  auto* about = new frmAbout(this);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->setWindowModality(Qt::ApplicationModal);
  about->show();
  return about;
}

frmMain::~frmMain() {
  // The models unhook themselves from the presenter's data, which they must outlive.
  tree_->setModel(nullptr);
  list_->setModel(nullptr);
  delete treeModel_;
  delete listModel_;
  // The pane reads the presenter, which goes before the window's children do.
  delete treemap_;
}

double frmMain::Dpi() const {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  return s ? s->logicalDotsPerInchX() : 96.0;
}

double frmMain::ToTwips(int px) const { return PixelsToTwips(px, Dpi()); }

QRect frmMain::ToPixels(const Rect& r) const {
  const double dpi = Dpi();
  const int l = TwipsToPixels(r.Left, dpi), t = TwipsToPixels(r.Top, dpi);
  return QRect(l, t, std::max(0, TwipsToPixels(r.Left + r.Width, dpi) - l),
               std::max(0, TwipsToPixels(r.Top + r.Height, dpi) - t));
}

QAction* frmMain::Action(const std::string& name) const {
  const auto it = actions_.find(name);
  return it == actions_.end() ? nullptr : it->second;
}

QAction* frmMain::Button(const std::string& key) const {
  const auto it = buttons_.find(key);
  return it == buttons_.end() ? nullptr : it->second;
}

QLabel* frmMain::Panel(const std::string& key) const {
  const auto it = panels_.find(key);
  return it == panels_.end() ? nullptr : it->second;
}

void frmMain::RowMenuKey(QAction* a, const char* key) {
  if (!a) return;
  a->setShortcut(QKeySequence(QString::fromLatin1(key)));
  a->setShortcutContext(Qt::WidgetShortcut);
}

QMenu* frmMain::MenuNamed(const std::string& name) const {
  const auto it = menus_.find(name);
  return it == menus_.end() ? nullptr : it->second;
}

void frmMain::AddEntries(QMenu* menu, const Menu& m) {
  menu->setObjectName(m.Name);
  menus_[m.Name] = menu;
  for (const MenuEntry& e : m.Entries) {
    if (e.Submenu) {
      QMenu* sub = menu->addMenu(QString::fromUtf8(e.Caption));
      sub->menuAction()->setObjectName(e.Name);
      actions_[e.Name] = sub->menuAction();
      AddEntries(sub, *e.Submenu);
      continue;
    }
    QAction* a = std::string_view(e.Caption) == "-" ? menu->addSeparator()
                                                    : menu->addAction(QString::fromUtf8(e.Caption));
    a->setObjectName(e.Name);
    actions_[e.Name] = a;
    if (a->isSeparator()) continue;
    a->setCheckable(e.Checkable);
    a->setChecked(e.CheckedAtStart);
    if (e.Shortcut) a->setShortcut(QKeySequence(QString::fromLatin1(e.Shortcut)));
    const std::string name = e.Name;
    connect(a, &QAction::triggered, this, [this, name] { presenter_->MenuClick(name); });
  }
}

void frmMain::BuildMenus() {
  for (const Menu& m : MenuBar()) AddEntries(menuBar()->addMenu(QString::fromUtf8(m.Caption)), m);
  // The context menu of the list; the list's click handling pops it up.
  fileMenu_ = new QMenu(QString::fromUtf8(FileMenu().Caption), this);
  AddEntries(fileMenu_, FileMenu());
  // The row menu shows the window's keys beside its entries; they act only while it is open,
  // so the menu bar's entries keep them otherwise.
  for (const MenuEntry& e : FileMenu().Entries)
    if (const char* key = RowMenuShortcut(e)) RowMenuKey(Action(e.Name), key);
  // Escape stops a running command (a search, a scan), as Stop does, wherever the focus is
  // unless the widget there uses the key itself.
  auto* escape = new QAction(this);
  escape->setObjectName("actEscapeStops");
  escape->setShortcut(QKeySequence(Qt::Key_Escape));
  escape->setShortcutContext(Qt::WindowShortcut);
  connect(escape, &QAction::triggered, this, [this] {
    if (presenter_->Slot().Busy()) presenter_->MenuClick("mnuScanStop");
  });
  addAction(escape);
  BuildUserCommandEntries();
  if (QMenu* view = MenuNamed("mnuView"))
    for (QAction* a : treemap_->AddColourMenu(view, Action("mnuViewSep1")))
      actions_[a->objectName().toStdString()] = a;
}

void frmMain::BuildUserCommandEntries() {
  for (QAction* a : userEntries_) {
    actions_.erase(a->objectName().toStdString());
    delete a;
  }
  userEntries_.clear();
  QMenu* tools = MenuNamed("mnuTools");
  QAction* toolsSep = Action(kToolsUserSeparator);
  QAction* rowSep = Action(kRowMenuUserSeparator);
  const auto& commands = presenter_->UserCommands();
  std::size_t shown = 0;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (!commands[i].Enabled) continue;
    const QString caption = QString::fromUtf8(UserCommandCaption(commands[i].Title).c_str());
    for (const bool rowMenu : {true, false}) {
      const std::string name = UserCommandEntryName(rowMenu, i);
      auto* a = new QAction(caption, rowMenu ? fileMenu_ : tools);
      a->setObjectName(QString::fromStdString(name));
      if (rowMenu) {
        fileMenu_->addAction(a);
        if (const char* key = UserCommandShortcut(shown)) RowMenuKey(a, key);
      } else {
        tools->insertAction(toolsSep, a);
        if (const char* key = UserCommandShortcut(shown)) a->setShortcut(QKeySequence(key));
      }
      actions_[name] = a;
      userEntries_.push_back(a);
      connect(a, &QAction::triggered, this, [this, name] { presenter_->MenuClick(name); });
    }
    ++shown;
  }
  if (rowSep) rowSep->setVisible(shown > 0);
  if (toolsSep) toolsSep->setVisible(shown > 0);
}

void frmMain::BuildToolbar() {
  toolbar_->setMovable(false);
  toolbar_->setFloatable(false);
  toolbar_->setIconSize(QSize(24, 24));
  toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  for (const ToolButton& b : ToolbarButtons()) {
    QAction* a = toolbar_->addAction(IconFor(QString(b.Image)), QString::fromUtf8(b.Tooltip));
    a->setObjectName(b.Key);
    a->setToolTip(QString::fromUtf8(b.Tooltip));
    a->setCheckable(b.TwoState);
    buttons_[b.Key] = a;
    const std::string key = b.Key;
    // A two-state button acts when its state changes, whether clicked or switched by
    // assistive technology (which toggles it without a click).
    connect(a, b.TwoState ? &QAction::toggled : &QAction::triggered, this,
            [this, key] { presenter_->tbToolBar_ButtonClick(key); });
    // The view switches stand apart from the commands around them.
    if (key == "Stop" || key == "Allocated") toolbar_->addSeparator();
  }
  if (auto* more = toolbar_->findChild<QToolButton*>("qt_toolbar_ext_button"))
    more->setAccessibleName("More buttons");
}

void frmMain::BuildStatusBar() {
  auto add = [this](const char* key, int stretch) {
    auto* l = new QLabel(statusBar_);
    l->setObjectName(key);
    l->setTextFormat(Qt::PlainText);
    l->setContentsMargins(4, 0, 4, 0);
    if (stretch)
      statusBar_->addWidget(l, stretch);
    else
      statusBar_->addPermanentWidget(l);
    panels_[key] = l;
  };
  add("Status", 1);
  add("Date", 0);
  add("Time", 0);
  UpdateClock();
  clock_.setInterval(1000);
  connect(&clock_, &QTimer::timeout, this, &frmMain::UpdateClock);
  clock_.start();
}

void frmMain::UpdateClock() {
  const QLocale loc;
  panels_["Date"]->setText(loc.toString(QDate::currentDate(), QLocale::ShortFormat));
  panels_["Time"]->setText(loc.toString(QTime::currentTime(), QLocale::ShortFormat));
}

void frmMain::Form_Load() {
  if (loaded_) return;
  loaded_ = true;
  setWindowTitle(version::Product);
  HelpSetup(this);
  RestorePlacement();
  show();
  presenter_->LoadDisks();
}

void frmMain::RestorePlacement() {
  IniFile settings;
  settings.Load(settingsPath_);
  Placement p = ReadPlacement(settings);
  presenter_->ReadKeptSettings(settings);
  SyncToggles();
  TypesChanged();
  const double dpi = Dpi();
  Placement px{static_cast<double>(TwipsToPixels(p.Left, dpi)),
               static_cast<double>(TwipsToPixels(p.Top, dpi)),
               static_cast<double>(TwipsToPixels(p.Width, dpi)),
               static_cast<double>(TwipsToPixels(p.Height, dpi))};
  std::vector<Rect> screens;
  for (const QScreen* s : QGuiApplication::screens()) {
    const QRect g = s->availableGeometry();
    screens.push_back({double(g.x()), double(g.y()), double(g.width()), double(g.height())});
  }
  Rect primary{0, 0, px.Width, px.Height};
  if (const QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect g = s->availableGeometry();
    primary = {double(g.x()), double(g.y()), double(g.width()), double(g.height())};
  }
  px = KeepOnScreen(px, screens, primary);
  move(static_cast<int>(px.Left), static_cast<int>(px.Top));
  resize(static_cast<int>(px.Width), static_cast<int>(px.Height));
  restored_ = p;
  restoredPx_ = QRect(pos(), size());
}

void frmMain::SavePlacement() {
  IniFile settings;
  std::string err;
  // Keep whatever else the file holds; a garbled file is replaced by a clean one.
  settings.Load(settingsPath_);
  // A minimized window keeps the placement it had; its switches are kept whatever its state.
  if (!isMinimized()) {
    const Placement now = QRect(pos(), size()) == restoredPx_
                              ? restored_
                              : Placement{ToTwips(pos().x()), ToTwips(pos().y()), ToTwips(width()),
                                          ToTwips(height())};
    WritePlacement(settings, now);
  }
  presenter_->WriteKeptSettings(settings);
  if (!settings.Save(settingsPath_, &err))
    std::cerr << "Kestrum: cannot save the window placement: " << err << "\n";
}

void frmMain::closeEvent(QCloseEvent* e) {
  // A zip still running is cancelled and waited for before anything else goes.
  if (zipWindow_) zipWindow_->CloseForOwner();
  // Stops and joins a running command before the placement is saved and the model goes.
  presenter_->Unload();
  progressTimer_.stop();
  SavePlacement();
  e->accept();
}

bool frmMain::RunZipWindow(ZipRequest request) {
  frmZip window(std::move(request), this);
  window.OnF12 = [&window] { HelpContents(&window); };
  zipWindow_ = &window;
  window.exec();
  zipWindow_ = nullptr;
  // Not when the main window itself is closing, which ended the zip window.
  return window.FilesZipped() && isVisible();
}

bool frmMain::Confirm(const std::string& text, const std::string& details) {
  QMessageBox box(QMessageBox::Warning, version::Product, DisplayText(text),
                  QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setObjectName("ConfirmDelete");
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Cancel);
  box.setDetailedText(DisplayText(details));
  return box.exec() == QMessageBox::Ok;
}

void frmMain::ShowProperties(const RowTarget& target) { sheets_->Show(target); }

void frmMain::SetClipboard(const std::string& text, const std::string& uriList) {
  auto* data = new QMimeData;
  if (uriList.empty()) {
    data->setText(DisplayText(text));
  } else {
    // Exact bytes: a path that is not UTF-8 survives only this way.
    data->setData("text/plain", QByteArray::fromStdString(text));
    data->setData("text/uri-list", QByteArray::fromStdString(uriList));
  }
  QGuiApplication::clipboard()->setMimeData(data);
}

frmCommandOutput* frmMain::LastOutputWindow() const { return lastOutput_.data(); }

std::shared_ptr<CommandOutput> frmMain::OpenCommandOutput(const std::string& title) {
  auto* w = new frmCommandOutput(DisplayText(title), this);
  w->show();
  lastOutput_ = w;
  return w->Sink();
}

bool frmMain::EditUserCommands(std::vector<UserCommand>& commands) {
  frmCommands dialog(commands, this);
  if (dialog.exec() != QDialog::Accepted) return false;
  commands = dialog.Commands();
  return true;
}

bool frmMain::EditExcludeRules(ExcludeForm& form,
                               const std::function<std::string(const ExcludeForm&)>& check) {
  frmExcludes dialog(form, check, this);
  if (dialog.exec() != QDialog::Accepted) return false;
  form = dialog.Form();
  return true;
}

bool frmMain::AskSearch(SearchForm& form, const std::string& folder,
                        const std::function<std::string(const SearchForm&)>& check) {
  frmFind dialog(form, folder, check, this);
  if (dialog.exec() != QDialog::Accepted) return false;
  form = dialog.Form();
  return true;
}

bool frmMain::AskSize(std::string& text,
                      const std::function<std::string(const std::string&)>& check) {
  frmLargerThan dialog(text, check, this);
  if (dialog.exec() != QDialog::Accepted) return false;
  text = dialog.Text();
  return true;
}

CompareChoice frmMain::AskCompare(const CompareOffer& offer) {
  frmCompare dialog(offer, this);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.Choice();
}

std::string frmMain::AskFolder() {
  const QString dir = QFileDialog::getExistingDirectory(this, "Scan Folder", QDir::homePath());
  return dir.isEmpty() ? std::string() : QFile::encodeName(dir).toStdString();
}

void frmMain::ImportScans(const std::vector<std::string>& files) {
  // Folders given beside them are scanned first: the saved scans wait for the slot.
  if (presenter_->Slot().Busy()) {
    QTimer::singleShot(200, this, [this, files] { ImportScans(files); });
    return;
  }
  kestrum::ImportScans(*presenter_, files);
}

std::vector<std::string> frmMain::AskScanFiles() {
  const QStringList files = QFileDialog::getOpenFileNames(
      this, "Open Scan", QDir::homePath(),
      "Saved scans (*.json *.json.gz *.json.zst *.gz *.zst);;All files (*)");
  std::vector<std::string> out;
  for (const QString& f : files) out.push_back(QFile::encodeName(f).toStdString());
  return out;
}

std::string frmMain::AskExportFile(const std::string& folder) {
  const QString f = QFileDialog::getSaveFileName(
      this, "Export Scan of " + QFile::decodeName(QByteArray::fromStdString(folder)),
      QDir::homePath() + "/scan.json",
      "Saved scans (*.json *.json.gz *.json.zst);;All files (*)");
  return f.isEmpty() ? std::string() : QFile::encodeName(f).toStdString();
}

void frmMain::OpenHelpContents() { HelpContents(this); }

void frmMain::OpenHelpSearch() { HelpSearch(this); }

void frmMain::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  SizeControls(firstLayout_ ? 0 : layout_.Splitter);
}

void frmMain::SizeControls(double x) {
  LayoutInput in;
  const int frameExtra = frameGeometry().width() - width();
  in.WindowWidth =
      ToTwips(surface_->width()) + (frameExtra > 0 ? ToTwips(frameExtra) : kNominalFrameTwips);
  in.InnerHeight = ToTwips(surface_->height());
  in.ToolbarVisible = toolbar_->isVisibleTo(this);
  in.ToolbarHeight = ToTwips(toolbar_->sizeHint().height());
  in.StatusBarVisible = statusBar_->isVisibleTo(this);
  in.StatusBarHeight = ToTwips(statusBar_->sizeHint().height());
  in.LabelHeight = ToTwips(pathLabel_->sizeHint().height());
  layout_ = kestrum::SizeControls(x, firstLayout_, in);

  const int w = surface_->width();
  toolbar_->setGeometry(0, 0, w, toolbar_->sizeHint().height());
  const QRect tree = ToPixels(layout_.Tree);
  tree_->setGeometry(tree);
  pathLabel_->setGeometry(ToPixels(layout_.Label));
  // The list reaches the window's right edge; the layout's allowance was for the frame.
  QRect list = ToPixels(layout_.List);
  QRect chart = ToPixels(layout_.Chart);
  // The treemap takes the bottom of the right side, below a handle that resizes it.
  const bool mapShown = presenter_->MapPane().Shown;
  if (mapShown) {
    constexpr int kHandle = 6;
    const int mapHeight = static_cast<int>(list.height() * presenter_->MapPane().Split);
    const QRect map(list.left(), list.bottom() + 1 - mapHeight, list.width(), mapHeight);
    treemapHandle_->setGeometry(list.left(), map.top() - kHandle, list.width(), kHandle);
    list.setBottom(map.top() - kHandle - 1);
    chart.setBottom(std::min(chart.bottom(), list.bottom()));
    treemap_->setGeometry(map);
  }
  treemapHandle_->setVisible(mapShown);
  if (treemap_->isHidden() == mapShown) {
    treemap_->setVisible(mapShown);
    if (mapShown) SetTreemapSize(*presenter_, treemap_->width(), treemap_->height());
  }
  list_->setGeometry(list);
  graph_->setGeometry(chart);
  QRect sp = ToPixels(layout_.SplitterBar);
  sp.setWidth(std::max(sp.width(), 5));  // wide enough to grab
  splitter_->setGeometry(sp);
  splitter_->raise();
  statusBar_->setGeometry(0, surface_->height() - statusBar_->sizeHint().height(), w,
                          statusBar_->sizeHint().height());
  presenter_->List().Width = layout_.List.Width;
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::Resize) {
    // The window, the splitter, the treemap's handle or a scroll bar changed the list's room.
    FitListColumns();
    return false;
  }
  if (watched == list_->header()->viewport()) {
    // A width set while a button is down on the header is the user's drag (or double-click).
    const QEvent::Type t = event->type();
    if (t == QEvent::MouseButtonPress || t == QEvent::MouseButtonDblClick) headerPressed_ = true;
    if (t == QEvent::MouseButtonRelease) headerPressed_ = false;
    return false;
  }
  if (watched == list_->viewport() && event->type() == QEvent::MouseButtonRelease) {
    const auto* me = static_cast<QMouseEvent*>(event);
    const int button = me->button() == Qt::LeftButton     ? kLeftButton
                       : me->button() == Qt::RightButton  ? kRightButton
                       : me->button() == Qt::MiddleButton ? 4
                                                          : 0;
    const Qt::KeyboardModifiers m = me->modifiers();
    const int shift = (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
                      (m & Qt::AltModifier ? 4 : 0);
    lvListView_MouseUp(*presenter_, button, shift);
    const QModelIndex at = list_->indexAt(me->position().toPoint());
    if (at.isValid()) {
      // The click runs once the view has finished with the release (its selection).
      const auto row = static_cast<std::size_t>(at.row()) + 1;
      QMetaObject::invokeMethod(
          this, [this, row] { lvListView_Click(*presenter_, row); }, Qt::QueuedConnection);
    }
    return false;
  }
  if (event->type() == QEvent::ContextMenu && (watched == list_ || watched == list_->viewport())) {
    // The menu key acts as a right click on the selected row; a mouse's right click was
    // handled at its release.
    if (static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
      lvListView_MouseUp(*presenter_, kRightButton, 0);
      lvListView_Click(*presenter_, CurrentListRow());
    }
    return true;
  }
  if (watched == splitter_) {
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        const Rect bar = DragBarRect({layout_.SplitterBar.Left, layout_.SplitterBar.Top,
                                      ToTwips(splitter_->width()), layout_.SplitterBar.Height});
        QRect r = ToPixels(bar);
        r.setWidth(std::max(r.width(), 3));
        dragBar_->setGeometry(r);
        dragBar_->show();
        dragBar_->raise();
        moving_ = true;
        return true;
      }
      case QEvent::MouseMove:
        if (moving_) {
          const auto* me = static_cast<QMouseEvent*>(event);
          const double left =
              DragBarLeft(layout_.SplitterBar.Left, ToTwips(qRound(me->position().x())),
                          ToTwips(surface_->width()));
          dragBar_->move(TwipsToPixels(left, Dpi()), dragBar_->y());
        }
        return true;
      case QEvent::MouseButtonRelease:
        if (moving_) {
          SizeControls(ToTwips(dragBar_->x()));
          dragBar_->hide();
          moving_ = false;
        }
        return true;
      default:
        return false;
    }
  }
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && watched == tree_) {
      presenter_->tvTreeView_Click();
      return true;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && watched == list_) {
      lvListView_Enter(*presenter_, CurrentListRow());
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void frmMain::ApplyColumns() {
  const auto& cols = presenter_->List().Columns();
  list_->header()->setVisible(!cols.empty());
  if (cols.empty()) return;
  // Each column as wide as its texts want; the name takes what the others leave.
  std::vector<int> wanted;
  for (std::size_t i = 0; i < cols.size(); ++i)
    wanted.push_back(ColumnPixels(*listModel_, static_cast<int>(i),
                                  TwipsToPixels(cols[i].Width, Dpi()), list_->font(),
                                  list_->header()->font()));
  const int icon = list_->iconSize().width() > 0 ? list_->iconSize().width() : 16;
  // Too narrow for all: the name gives way first, down to about a dozen characters (the
  // whole name is its tooltip), then the share bar, so that sizes, percentages and dates
  // show whole. What still does not fit scrolls.
  const QFontMetrics fm(list_->font());
  std::vector<YieldingColumn> yielding{{0, fm.averageCharWidth() * 12 + icon + 12}};
  for (std::size_t i = 0; i < cols.size(); ++i)
    if (listModel_->IsBarColumn(static_cast<int>(i)))
      yielding.push_back({i, fm.averageCharWidth() * 2});
  presenter_->Listing().Columns.SetWanted(std::move(wanted), std::move(yielding));
  FitListColumns();
}

void frmMain::FitListColumns() {
  const std::vector<int> widths = presenter_->Listing().Columns.Fit(list_->viewport()->width());
  fittingColumns_ = true;
  for (std::size_t i = 0; i < widths.size(); ++i)
    list_->header()->resizeSection(static_cast<int>(i), widths[i]);
  fittingColumns_ = false;
}

void frmMain::SetStatus(const std::string& text) { panels_["Status"]->setText(DisplayText(text)); }

void frmMain::SetPathLabel(const std::string& text) { pathLabel_->setText(DisplayText(text)); }

void frmMain::ShowMessage(const std::string& text) {
  if (QGuiApplication::platformName() == "offscreen") {
    // No one can answer a box offscreen (tests, headless runs): report instead of waiting.
    std::cerr << "Kestrum: " << text << "\n";
    return;
  }
  QMessageBox::information(this, version::Product, DisplayText(text), QMessageBox::Ok);
}

void frmMain::SetTreeEnabled(bool enabled) {
  presenter_->Explorer().Enabled = enabled;
  tree_->setEnabled(enabled);
}

void frmMain::SelectNode(NodeId node) {
  const QModelIndex i = treeModel_->IndexOf(node);
  if (i.isValid()) tree_->setCurrentIndex(i);
}

void frmMain::ExpandNode(NodeId node) {
  const QModelIndex i = treeModel_->IndexOf(node);
  if (!i.isValid()) return;
  if (tree_->isExpanded(i))
    presenter_->Explorer().TV_Expand(node);
  else
    tree_->expand(i);  // the expanded signal tells the explorer
}

void frmMain::CloseWindow() { close(); }

void frmMain::SetProgressTimer(bool running) {
  if (running)
    progressTimer_.start();
  else
    progressTimer_.stop();
}

void frmMain::ShowBars(bool toolbar, bool statusBar) {
  toolbar_->setVisible(toolbar);
  statusBar_->setVisible(statusBar);
  SizeControls(layout_.Splitter);
}

void frmMain::TypesChanged() {
  const bool shown = presenter_->TypesPaneState().Shown;
  if (typesDock_->isHidden() == shown) typesDock_->setVisible(shown);
  if (shown) types_->Refresh();
}

void frmMain::SyncToggles() {
  const ViewToggles& t = presenter_->Toggles();
  // Put in step quietly: a button's toggled signal is the user's click.
  auto set = [](QAction* a, bool on) {
    if (!a || a->isChecked() == on) return;
    const QSignalBlocker quiet(a);
    a->setChecked(on);
  };
  set(Action("mnuViewToolbar"), t.Toolbar);
  set(Action("mnuViewStatusBar"), t.StatusBar);
  set(Action("mnuViewCD"), t.CDDrives);
  set(Button("CDDrives"), t.CDDrives);
  set(Action("mnuViewShowFiles"), t.ShowFiles);
  set(Button("Files"), t.ShowFiles);
  set(Action("mnuViewAllocated"), t.Allocated);
  set(Button("Allocated"), t.Allocated);
  set(Action("mnuViewHardLinks"), t.HardLinksOnce);
  set(Action("mnuViewCrossFs"), t.CrossFileSystems);
  set(Action("mnuViewKeepHistory"), presenter_->KeepHistory);
  set(Action("mnuViewTreemap"), presenter_->MapPane().Shown);
  set(Action("mnuViewTypes"), presenter_->TypesPaneState().Shown);
  // Shown or hidden: the right side is laid out again.
  if (!firstLayout_ && treemap_->isVisibleTo(this) != presenter_->MapPane().Shown)
    SizeControls(layout_.Splitter);
}

void frmMain::WireList() {
  tree_->setAccessibleName("Folders");
  list_->setAccessibleName("Files and folders");
  // The path label has no name of its own: a screen reader reads its text, the folder shown.
  pathLabel_->setAccessibleDescription("Path");
  list_->setItemDelegate(new BarDelegate(*listModel_, list_));
  list_->viewport()->installEventFilter(this);
  list_->setAllColumnsShowFocus(true);
  list_->header()->setSectionsClickable(true);
  list_->header()->setSortIndicatorShown(false);
  list_->header()->setStretchLastSection(false);
  // The share bar may narrow to a sliver when the list is short of room.
  list_->header()->setMinimumSectionSize(4);
  list_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list_->header()->viewport()->installEventFilter(this);
  connect(list_->header(), &QHeaderView::sectionResized, this, [this](int section, int, int width) {
    if (fittingColumns_ || !headerPressed_ || section < 0) return;
    presenter_->Listing().Columns.UserResized(static_cast<std::size_t>(section), width);
  });
  connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int section) {
    const auto& cols = presenter_->List().Columns();
    if (section >= 0 && section < static_cast<int>(cols.size()))
      LvListView_ColumnClick(*presenter_, cols[static_cast<std::size_t>(section)].Text);
  });
  // The list data keeps which rows are selected, for the commands that act on them.
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& on, const QItemSelection& off) {
            ListData& l = presenter_->List();
            for (const QItemSelectionRange& r : off)
              for (int i = r.top(); i <= r.bottom(); ++i)
                l.SetSelected(static_cast<std::size_t>(i) + 1, false);
            for (const QItemSelectionRange& r : on)
              for (int i = r.top(); i <= r.bottom(); ++i)
                l.SetSelected(static_cast<std::size_t>(i) + 1, true);
          });
  connect(listModel_, &ListModel::RowsReset, this, &frmMain::SelectMarkedRows);
  connect(listModel_, &ListModel::RowsReset, this, &frmMain::ApplyColumns);
  connect(chart_, &PieChartView::clicked, this, [this] { Graph_Click(*presenter_); });
  ShellOpener = [](const std::string& path, bool trashView) {
    return OpenFolderInFileManager(path, trashView);
  };
  // Workers (file listings, long commands) deliver their results here.
  presenter_->Queue()->Connect([this](std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
  });
}

void frmMain::SelectMarkedRows() {
  const auto& rows = presenter_->List().Rows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].Selected) continue;
    const QModelIndex at = listModel_->index(static_cast<int>(i), 0);
    list_->selectionModel()->setCurrentIndex(
        at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list_->scrollTo(at);
    return;
  }
}

std::size_t frmMain::CurrentListRow() const {
  const QModelIndex at = list_->currentIndex();
  return at.isValid() ? static_cast<std::size_t>(at.row()) + 1 : 0;
}

void frmMain::ShowPieChart(const PieChartData& chart) {
  chart_->SetData(chart);
  list_->hide();
  chart_->show();
  chart_->raise();
  chart_->setFocus();
}

void frmMain::HidePieChart() {
  chart_->hide();
  list_->show();
}

void frmMain::PopupFileMenu() {
  QPoint at = QCursor::pos();
  // Asked for from the keyboard, away from the pointer: at the selected row.
  if (!list_->viewport()->rect().contains(list_->viewport()->mapFromGlobal(at)))
    at = list_->viewport()->mapToGlobal(list_->visualRect(list_->currentIndex()).center());
  fileMenu_->popup(at);
}

void frmMain::SelectListRow(std::size_t row) {
  const QModelIndex at = listModel_->index(static_cast<int>(row) - 1, 0);
  if (!at.isValid()) {
    list_->selectionModel()->clear();
    return;
  }
  list_->selectionModel()->setCurrentIndex(
      at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list_->scrollTo(at);
}

bool frmMain::ShellOpen(const std::string& path, bool trashView) {
  return ShellOpener ? ShellOpener(path, trashView) : false;
}

}  // namespace kestrum::gui
