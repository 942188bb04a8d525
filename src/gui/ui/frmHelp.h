#pragma once
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QTabWidget>
#include <QTextBrowser>
#include <QWidget>

class QHelpEngine;

namespace kestrum::gui {

// The help window: a contents tree, a keyword index and a full-text search beside a page
// browser, over one help collection. Its engine writes (search index, settings) only to a
// copy of the collection in the user's cache folder, so an installed, read-only collection
// serves as it is.
class frmHelp : public QMainWindow {
  Q_OBJECT
 public:
  // collection: the help collection to show (see core/app/help_files.h).
  explicit frmHelp(const QString& collection, QWidget* parent = nullptr);
  // Waits (a few seconds at most) for the engine's threads that build its contents and index
  // and stops its search indexing: the engine must not go while they still run.
  ~frmHelp() override;

  // Shows the window on the contents tree, at the first page when none is shown yet.
  void ShowContents();
  // Shows the window on the keyword index with nothing typed in.
  void ShowIndex();
  // Shows the search tab and runs a full-text search for text.
  void Search(const QString& text);

  QTabWidget* Tabs() const { return tabs_; }
  QTextBrowser* Browser() const { return browser_; }
  QLineEdit* IndexFilter() const { return indexFilter_; }
  QHelpEngine* Engine() const { return engine_; }
  // The collection the engine opened (the cache copy, or the original when no copy could be
  // made), and why the help is missing, "" when it is there.
  const QString& OpenedCollection() const { return opened_; }
  const QString& Problem() const { return problem_; }

 private:
  void Open(const QUrl& url);
  void ShowProblem();

  QHelpEngine* engine_ = nullptr;
  QTabWidget* tabs_;
  QTextBrowser* browser_;
  QLineEdit* indexFilter_;
  QString opened_;
  QString problem_;
};

// The collection to open for original: a copy in the user's cache folder, made again when
// the original changed, so that the engine's writes never touch the original. Returns the
// original itself when no copy can be made.
QString WritableCollection(const QString& original, const QString& cacheFolder);

}  // namespace kestrum::gui
