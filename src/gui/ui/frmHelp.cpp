#include "gui/ui/frmHelp.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpFilterEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdio>

#include "core/app/help_files.h"
#include "gui/controls/icons.h"
#include "kestrum_version.h"

namespace kestrum::gui {

namespace {

// Pages come from the help engine; everything else the page names (none today) is refused
// rather than fetched.
class HelpBrowser : public QTextBrowser {
 public:
  HelpBrowser(QHelpEngine* engine, QWidget* parent) : QTextBrowser(parent), engine_(engine) {}
  QVariant loadResource(int type, const QUrl& name) override {
    if (name.scheme() == "qthelp") return engine_->fileData(name);
    return QTextBrowser::loadResource(type, name);
  }

 private:
  QHelpEngine* engine_;
};

constexpr const char* kSourceStamp = "KestrumCollectionSource";

QString StampOf(const QFileInfo& f) {
  return f.absoluteFilePath() + "|" + QString::number(f.size()) + "|" +
         QString::number(f.lastModified().toMSecsSinceEpoch());
}

}  // namespace

QString WritableCollection(const QString& original, const QString& cacheFolder) {
  const QFileInfo source(original);
  if (!source.isFile()) return original;
  if (!QDir().mkpath(cacheFolder)) return original;
  const QString copy = QDir(cacheFolder).filePath(source.fileName());
  const QString stamp = StampOf(source);
  if (QFileInfo::exists(copy)) {
    QHelpEngineCore existing(copy);
    if (existing.setupData() && existing.customValue(kSourceStamp).toString() == stamp) return copy;
  }
  // A new or changed original: copy it afresh, beside the old copy first and then renamed
  // over it, so that another Kestrum opening the help at the same time sees either copy
  // whole. The copy names the documentation files by where they are, so they are read from
  // the original's folder.
  const QString temp = copy + QString(".%1.tmp").arg(QCoreApplication::applicationPid());
  QFile::remove(temp);
  bool made = false;
  {
    QHelpEngineCore from(original);
    from.setReadOnly(true);
    made = from.setupData() && from.copyCollectionFile(temp);
  }
  if (made) {
    QHelpEngineCore fresh(temp);
    made = fresh.setupData() && fresh.setCustomValue(kSourceStamp, stamp);
  }
  if (made) {
    // The old search index belongs to the old pages.
    QDir(QDir(cacheFolder).filePath("." + source.completeBaseName())).removeRecursively();
    made =
        std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(copy).constData()) == 0;
  }
  QFile::remove(temp);
  return made ? copy : original;
}

// A main window of its own, so that assistive technology announces it as a frame with its
// title.
frmHelp::~frmHelp() {
  if (!engine_) return;
  if (QHelpSearchEngine* search = engine_->searchEngine()) search->cancelIndexing();
  QElapsedTimer waited;
  waited.start();
  while ((engine_->contentModel()->isCreatingContents() ||
          engine_->indexModel()->isCreatingIndex()) &&
         waited.elapsed() < 5000)
    QThread::msleep(5);
}

frmHelp::frmHelp(const QString& collection, QWidget* parent) : QMainWindow(parent) {
  setObjectName("frmHelp");
  setWindowTitle(QString(version::Product) + " Help");
  setWindowIcon(IconFor(QString("Kestrum")));
  if (!parent) setAttribute(Qt::WA_DeleteOnClose);

  if (!QFileInfo(collection).isFile()) {
    problem_ = "The help file " + collection + " is missing.";
  } else {
    opened_ = WritableCollection(collection, QString::fromStdString(HelpCacheFolder()));
    engine_ = new QHelpEngine(opened_, this);
    // A copy that could not be made leaves the original, which must not be written.
    engine_->setReadOnly(opened_ == collection && !QFileInfo(collection).isWritable());
    engine_->setUsesFilterEngine(true);
    if (!engine_->setupData()) problem_ = "The help file cannot be read: " + engine_->error();
  }

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("tabHelp");
  tabs_->setAccessibleName("Help navigation");
  auto* contentsPage = new QWidget;
  auto* indexPage = new QWidget;
  auto* searchPage = new QWidget;
  contentsPage->setObjectName("pageContents");
  indexPage->setObjectName("pageIndex");
  searchPage->setObjectName("pageSearch");
  tabs_->addTab(contentsPage, "&Contents");
  tabs_->addTab(indexPage, "&Index");
  tabs_->addTab(searchPage, "&Search");

  browser_ = new HelpBrowser(engine_, this);
  browser_->setObjectName("txtHelpPage");
  browser_->setAccessibleName("Help page");
  browser_->setOpenLinks(true);
  browser_->setOpenExternalLinks(false);

  indexFilter_ = new QLineEdit(indexPage);
  indexFilter_->setObjectName("txtIndexFilter");
  indexFilter_->setAccessibleName("Keyword");
  indexFilter_->setPlaceholderText("Type a keyword");
  auto* indexLabel = new QLabel("&Type the word you are looking for:", indexPage);
  indexLabel->setBuddy(indexFilter_);
  indexLabel->setWordWrap(true);
  auto* indexLayout = new QVBoxLayout(indexPage);
  indexLayout->addWidget(indexLabel);
  indexLayout->addWidget(indexFilter_);
  auto* contentsLayout = new QVBoxLayout(contentsPage);
  auto* searchLayout = new QVBoxLayout(searchPage);

  if (engine_) {
    QHelpContentWidget* contents = engine_->contentWidget();
    contents->setObjectName("tvHelpContents");
    contents->setAccessibleName("Contents");
    contents->setHeaderHidden(true);
    contentsLayout->addWidget(contents);
    connect(contents, &QHelpContentWidget::linkActivated, this, &frmHelp::Open);
    connect(engine_->contentModel(), &QHelpContentModel::contentsCreated, this, [this] {
      engine_->contentWidget()->expandToDepth(0);
      if (browser_->source().isEmpty()) ShowContents();
    });

    QHelpIndexWidget* index = engine_->indexWidget();
    index->setObjectName("lstHelpIndex");
    index->setAccessibleName("Keywords");
    indexLayout->addWidget(index);
    connect(indexFilter_, &QLineEdit::textChanged, this,
            [index](const QString& t) { index->filterIndices(t); });
    connect(indexFilter_, &QLineEdit::returnPressed, index, &QHelpIndexWidget::activateCurrentItem);
    connect(index, &QHelpIndexWidget::documentActivated, this,
            [this](const QHelpLink& link, const QString&) { Open(link.url); });
    connect(index, &QHelpIndexWidget::documentsActivated, this,
            [this](const QList<QHelpLink>& links, const QString&) {
              if (!links.isEmpty()) Open(links.first().url);
            });

    QHelpSearchEngine* search = engine_->searchEngine();
    QHelpSearchQueryWidget* query = search->queryWidget();
    query->setObjectName("qryHelpSearch");
    query->setAccessibleName("Search words");
    QHelpSearchResultWidget* results = search->resultWidget();
    results->setObjectName("lstHelpResults");
    results->setAccessibleName("Search results");
    searchLayout->addWidget(query);
    searchLayout->addWidget(results, 1);
    // The engine's own parts come unnamed: each is named for a screen reader, a button by its
    // tooltip.
    for (QLineEdit* e : query->findChildren<QLineEdit*>()) e->setAccessibleName("Search words");
    for (QAbstractButton* b : query->findChildren<QAbstractButton*>())
      if (b->text().isEmpty() && b->accessibleName().isEmpty())
        b->setAccessibleName(b->toolTip().isEmpty() ? b->objectName() : b->toolTip());
    // The result pages' buttons, made first, back, forward, last.
    const char* pages[] = {"First page of results", "Previous page of results",
                           "Next page of results", "Last page of results"};
    const QList<QToolButton*> pageButtons =
        results->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly);
    for (qsizetype i = 0; i < pageButtons.size() && i < 4; ++i)
      if (pageButtons[i]->accessibleName().isEmpty() && pageButtons[i]->toolTip().isEmpty())
        pageButtons[i]->setAccessibleName(pages[i]);
    for (QAbstractScrollArea* view : results->findChildren<QAbstractScrollArea*>())
      if (view->accessibleName().isEmpty()) view->setAccessibleName("Search results");
    connect(query, &QHelpSearchQueryWidget::search, this,
            [search, query] { search->search(query->searchInput()); });
    connect(results, &QHelpSearchResultWidget::requestShowLink, this, &frmHelp::Open);
    // The index is built in the background once per collection copy and kept with it.
    search->scheduleIndexDocumentation();
    const QString filter = engine_->filterEngine()->activeFilter();
    engine_->contentModel()->createContents(filter);
    engine_->indexModel()->createIndex(filter);
  } else {
    indexFilter_->setEnabled(false);
  }

  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* split = new QSplitter(central);
  split->setObjectName("splHelp");
  split->addWidget(tabs_);
  split->addWidget(browser_);
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(6, 6, 6, 6);
  outer->addWidget(split);

  const QFontMetrics fm(font());
  tabs_->setMinimumWidth(fm.averageCharWidth() * 32);
  split->setSizes({fm.averageCharWidth() * 44, fm.averageCharWidth() * 96});
  resize(fm.averageCharWidth() * 140, fm.height() * 40);
  if (!problem_.isEmpty()) ShowProblem();
}

void frmHelp::ShowProblem() {
  browser_->setPlainText(problem_ +
                         "\n\nThe help pages are installed with the program; "
                         "reinstalling it brings them back.");
}

void frmHelp::Open(const QUrl& url) {
  if (url.isValid()) browser_->setSource(url);
}

void frmHelp::ShowContents() {
  tabs_->setCurrentIndex(0);
  if (engine_ && browser_->source().isEmpty()) {
    const QHelpContentItem* top =
        engine_->contentModel()->contentItemAt(engine_->contentModel()->index(0, 0));
    if (top) Open(top->url());
  }
  show();
  raise();
  activateWindow();
}

void frmHelp::ShowIndex() {
  tabs_->setCurrentIndex(1);
  indexFilter_->clear();
  if (engine_) engine_->indexWidget()->filterIndices(QString());
  show();
  raise();
  activateWindow();
  indexFilter_->setFocus();
}

void frmHelp::Search(const QString& text) {
  tabs_->setCurrentIndex(2);
  if (engine_) {
    engine_->searchEngine()->queryWidget()->setSearchInput(text);
    engine_->searchEngine()->search(text);
  }
  show();
  raise();
}

}  // namespace kestrum::gui
