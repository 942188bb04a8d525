#pragma once
#include <QFont>
#include <QImage>
#include <QList>
#include <QThreadPool>
#include <QWidget>
#include <atomic>
#include <memory>

class QAction;
class QListWidget;
class QMenu;

#include "core/presenter/main_presenter.h"

namespace kestrum::gui {

// How a picture of the map is coloured and lettered.
struct MapLook {
  MapColouring Colouring = MapColouring::Branch;
  MapTypeMark Mark;  // files not marked are dimmed
  QFont Font;        // of the names and sizes on files large enough
  QColor Text = Qt::black, LightText = Qt::white;
  bool Labels = true;
  // Colouring by change: the comparison, the sizes compared, the folder listed and the rows'
  // changes (RowChanges); each rectangle's change is worked out on the painter's thread. No
  // comparison: all unchanged.
  std::shared_ptr<const ActiveComparison> Comparison;
  bool Allocated = false;
  const DiskObject* Listed = nullptr;
  std::vector<MapChange> Rows;
};

// The treemap pane: shows the presenter's map (MainPresenter::MapPane) as nested, cushion-
// shaded rectangles and hands its mouse and keys to the presenter. The picture is painted
// from the map alone on a thread of its own into a cached image, never touching the model;
// the window thread only draws that image (stretched while a new one is painted after a
// resize) and the highlight over it. Its accessible description is the highlighted
// rectangle's path, size and share, announced when the highlight moves. While the files are
// coloured by type, a legend at its right (a list, read by screen readers row by row) gives
// each category shown, its colour and its share of the pane.
class TreemapView : public QWidget {
  Q_OBJECT
 public:
  explicit TreemapView(MainPresenter& presenter, QWidget* parent = nullptr);
  ~TreemapView() override;

  // The presenter replaced the map: paint it anew (or show an empty pane).
  void MapChanged();
  // The presenter moved the highlight: draw it and announce it.
  void HighlightChanged();

  // The picture painted last, in device pixels; null while none.
  const QImage& Picture() const { return image_; }
  // The map the picture shows (null: none).
  const Treemap* PictureMap() const { return painted_.get(); }
  // The text of a rectangle for its tooltip: name, path, size and share on their own lines.
  QString TooltipText(std::uint32_t rect) const;

  // Paints map into an image of size device pixels (pixel ratio dpr) with the given
  // background: what the painter thread does, callable on any thread.
  static QImage Paint(const Treemap& map, QSize size, qreal dpr, QColor background,
                      const std::atomic<int>* current = nullptr, int generation = 0,
                      const MapLook& look = {});

  // Adds the "Colour By" submenu to view before before: its entries, kept checked with the
  // pane's colouring, which they set and keep in the settings.
  QList<QAction*> AddColourMenu(QMenu* view, QAction* before);
  // The legend beside the map (hidden while the map is coloured by branch).
  QListWidget* Legend() const { return legend_; }
  // The text of the legend's rows: "Category, share%" for each category shown, largest first.
  static QStringList LegendRows(const Treemap& map);

 signals:
  // A picture was painted and is shown.
  void pictureReady();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;
  bool event(QEvent* e) override;

 private:
  void StartPainting();
  void UpdateLegend();
  // The room the map takes: the pane less the legend.
  QSize MapRoom() const;

  MainPresenter& presenter_;
  QThreadPool painter_;
  std::shared_ptr<std::atomic<int>> generation_ = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<const Treemap> painted_;  // the map of image_
  QImage image_;
  QListWidget* legend_ = nullptr;
  QAction* byBranch_ = nullptr;
  QAction* byType_ = nullptr;
  QAction* byChange_ = nullptr;
};

// A thin bar that resizes the panes above and below it: reports each drag position, in its
// parent's coordinates.
class SplitHandle : public QWidget {
  Q_OBJECT
 public:
  explicit SplitHandle(QWidget* parent = nullptr);
 signals:
  void dragged(int y);
  void released();  // the drag is over

 protected:
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
};

}  // namespace kestrum::gui
