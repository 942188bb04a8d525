#include "gui/controls/treemap_view.h"

#include <QAccessible>
#include <QActionGroup>
#include <QFontMetricsF>
#include <QListWidget>
#include <QMenu>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QToolTip>
#include <array>
#include <cmath>

#include "core/presenter/comparing.h"
#include "core/presenter/main_presenter.h"
#include "core/presenter/treemap_pane.h"
#include "core/rows/list_cells.h"
#include "gui/controls/text.h"

namespace kestrum::gui {

namespace {

// Cushion shading (van Wijk and van de Wetering): each level adds a parabolic ridge of
// height kRidge * kFalloff^depth along both axes, and a leaf is lit by a light from the top
// left; the ambient part keeps dark colours readable.
constexpr double kRidge = 0.5, kFalloff = 0.75;
constexpr double kAmbient = 0.45, kDiffuse = 0.55;
constexpr double kLx = -0.09759, kLy = -0.19518, kLz = 0.9759;
// A folder's frame: its colour darkened so that the nesting shows around its children; and
// the room inside that its children leave (those too small to show), a little darker than
// their cushions. middle.
// The outer two levels' frames are dark, the deeper ones only a shade darker than the room:
// in a tree of many small folders, dark frames at every level would be most of the picture.
constexpr double kFrameShade = 0.6, kDeepFrameShade = 0.8, kRoomShade = 0.92;
constexpr int kDarkFrameLevels = 2;
// Below this many device pixels either way a folder gets no frame of its own colour.
constexpr int kFramedSide = 10;
// How much of its branch's hue a folder's own files keep over the grey.
constexpr double kFilesTint = 0.3;
// Coloured by type, folders are a neutral grey that frames the files' colours; files not
// marked keep this much of their colour over the background.
constexpr QRgb kNeutral = 0x9a9a9a;
// Colouring by change, by MapChange: unchanged, grown, shrunk, new.
constexpr std::array<QRgb, kMapChanges> kChangeColours{0xb0b0b0, 0xd0453a, 0x3aa860, 0x4a78d0};
constexpr double kDimmed = 0.25;
// A file's name and size are written on it from this size on (logical pixels), and the
// legend's swatches are this wide.
constexpr qreal kLabelWidth = 52, kLabelPad = 3;
constexpr int kSwatch = 12;

// Perceived lightness of c, 0..255.
int Lightness(QRgb c) { return (qRed(c) * 299 + qGreen(c) * 587 + qBlue(c) * 114) / 1000; }

// The categories shown, largest first, with their share of the pane.
std::vector<std::pair<FileCategory, double>> LegendEntries(const Treemap& map) {
  std::vector<std::pair<FileCategory, double>> out;
  for (std::size_t c = 0; c < kFileCategories; ++c)
    if (map.CategoryBytes[c] > 0 && map.Total > 0)
      out.emplace_back(static_cast<FileCategory>(c), map.CategoryBytes[c] / map.Total);
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  return out;
}

struct Surface {
  double X2 = 0, X1 = 0, Y2 = 0, Y1 = 0;  // z = X2 x^2 + X1 x + Y2 y^2 + Y1 y
};

void AddRidge(double& a2, double& a1, double from, double to, double h) {
  if (to <= from) return;
  a2 -= 4 * h / (to - from);
  a1 += 4 * h * (to + from) / (to - from);
}

QRgb Scaled(QRgb c, double f) {
  auto ch = [f](int v) { return std::clamp(static_cast<int>(v * f + 0.5), 0, 255); };
  return qRgb(ch(qRed(c)), ch(qGreen(c)), ch(qBlue(c)));
}

QRgb Mix(QRgb a, QRgb b, double share) {
  auto ch = [share](int x, int y) { return static_cast<int>(x * share + y * (1 - share) + 0.5); };
  return qRgb(ch(qRed(a), qRed(b)), ch(qGreen(a), qGreen(b)), ch(qBlue(a), qBlue(b)));
}

void Fill(QImage& img, int x0, int y0, int x1, int y1, QRgb c) {
  for (int y = y0; y < y1; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    std::fill(line + x0, line + x1, c);
  }
}

void Cushion(QImage& img, int x0, int y0, int x1, int y1, const Surface& s, QRgb base) {
  const double r = qRed(base), g = qGreen(base), b = qBlue(base);
  for (int y = y0; y < y1; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    const double ny = -(2 * s.Y2 * (y + 0.5) + s.Y1);
    for (int x = x0; x < x1; ++x) {
      const double nx = -(2 * s.X2 * (x + 0.5) + s.X1);
      const double cosa = (nx * kLx + ny * kLy + kLz) / std::sqrt(nx * nx + ny * ny + 1);
      const double f = kAmbient + kDiffuse * std::max(0.0, cosa);
      line[x] = qRgb(static_cast<int>(r * f), static_cast<int>(g * f), static_cast<int>(b * f));
    }
  }
}

}  // namespace

TreemapView::TreemapView(MainPresenter& presenter, QWidget* parent)
    : QWidget(parent), presenter_(presenter) {
  setObjectName("Treemap");
  setAccessibleName("Treemap");
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
  painter_.setMaxThreadCount(1);
}

TreemapView::~TreemapView() {
  generation_->fetch_add(1);
  painter_.clear();
  painter_.waitForDone();
}

QImage TreemapView::Paint(const Treemap& map, QSize size, qreal dpr, QColor background,
                          const std::atomic<int>* current, int generation,
                          const MapLook& look) {
  QImage img(size, QImage::Format_RGB32);
  if (img.isNull()) return img;
  img.setDevicePixelRatio(dpr);
  img.fill(background);
  const std::vector<std::uint32_t>& palette = MapPalette();
  const auto& categories = CategoryPalette();
  const bool byType = look.Colouring == MapColouring::FileType;
  const bool byChange = look.Colouring == MapColouring::Change;
  std::vector<MapChange> changes;
  if (byChange && look.Comparison)
    changes = MapChanges(map, *look.Comparison, look.Allocated, look.Listed, look.Rows);
  const bool marking = look.Mark.What != MapTypeMark::By::None;
  const QRgb back = background.rgb();
  // A rectangle's colour, and whether it is dimmed (a file not marked, or a folder while
  // files are marked).
  auto colourOf = [&](const MapRect& r, bool& dim) -> QRgb {
    dim = false;
    if (byChange) {
      const std::size_t at = static_cast<std::size_t>(&r - map.Rects.data());
      return kChangeColours[static_cast<std::size_t>(at < changes.size() ? changes[at]
                                                                         : MapChange::Unchanged)];
    }
    if (r.Kind == MapKind::File && r.Ref < map.Files.size()) {
      const MapFile& f = map.Files[r.Ref];
      dim = marking && !MapFileMarked(map, f, look.Mark);
      return byType ? categories[static_cast<std::size_t>(f.Category)]
                    : palette[r.Hue % palette.size()];
    }
    dim = marking;
    return byType ? kNeutral : palette[r.Hue % palette.size()];
  };
  std::vector<Surface> surfaces;  // of the rectangles on the way down, by depth
  const int w = size.width(), h = size.height();
  for (std::size_t i = 0; i < map.Rects.size(); ++i) {
    if (current && (i & 1023) == 0 && current->load() != generation) return {};
    const MapRect& r = map.Rects[i];
    // Edges rounded one by one, so that neighbours share theirs: no gap, no overlap.
    const int x0 = std::clamp(static_cast<int>(std::lround(r.X * dpr)), 0, w);
    const int x1 = std::clamp(static_cast<int>(std::lround((r.X + r.W) * dpr)), 0, w);
    const int y0 = std::clamp(static_cast<int>(std::lround(r.Y * dpr)), 0, h);
    const int y1 = std::clamp(static_cast<int>(std::lround((r.Y + r.H) * dpr)), 0, h);
    if (x1 <= x0 || y1 <= y0) continue;
    bool dim = false;
    QRgb base = colourOf(r, dim);
    if (dim) base = Mix(base, back, kDimmed);
    if (r.Kind == MapKind::File && dim) {
      Fill(img, x0, y0, x1, y1, base);
      continue;
    }
    if (r.Kind == MapKind::Files) {
      // Flat and mostly grey, a trace of its branch's hue: files, not a folder.
      Fill(img, x0, y0, x1, y1, Mix(base, kMapFilesGrey, kFilesTint));
      continue;
    }
    if (surfaces.size() <= r.Depth) surfaces.resize(r.Depth + 1u);
    Surface s = r.Depth > 0 ? surfaces[r.Depth - 1u] : Surface{};
    const double height = kRidge * std::pow(kFalloff, r.Depth);
    AddRidge(s.X2, s.X1, x0, x1, height);
    AddRidge(s.Y2, s.Y1, y0, y1, height);
    surfaces[r.Depth] = s;
    if (r.End > i + 1) {  // the children are painted over the inside
      const int f = std::max(1, static_cast<int>(std::lround(kMapFrame * dpr)));
      if (x1 - x0 >= kFramedSide && y1 - y0 >= kFramedSide) {
        Fill(img, x0, y0, x1, y1,
             Scaled(base, r.Depth < kDarkFrameLevels ? kFrameShade : kDeepFrameShade));
        Fill(img, x0 + f, y0 + f, x1 - f, y1 - f, Scaled(base, kRoomShade));
      } else {
        Fill(img, x0, y0, x1, y1, Scaled(base, kRoomShade));
      }
    } else {
      Cushion(img, x0, y0, x1, y1, s, base);
    }
  }
  if (!look.Labels || map.Files.empty()) return img;
  // Names and sizes on the files that have room for two lines.
  QPainter text(&img);
  text.setFont(look.Font);
  const QFontMetricsF metrics(look.Font);  // logical pixels, as the rectangles
  const qreal line = metrics.height();
  for (std::size_t i = 0; i < map.Rects.size(); ++i) {
    if (current && (i & 1023) == 0 && current->load() != generation) return {};
    const MapRect& r = map.Rects[i];
    if (r.Kind != MapKind::File || r.W < kLabelWidth || r.H < 2 * line + 2 * kLabelPad) continue;
    bool dim = false;
    const QRgb base = colourOf(r, dim);
    if (dim) continue;
    const MapFile& f = map.Files[r.Ref];
    const qreal room = r.W - 2 * kLabelPad;
    text.setPen(Lightness(base) < 128 ? look.LightText : look.Text);
    const QString name = metrics.elidedText(VisibleText(f.Name), Qt::ElideMiddle, room);
    const QString size = metrics.elidedText(DisplayText(SizeText(static_cast<double>(f.Size))),
                                            Qt::ElideRight, room);
    text.drawText(QPointF(r.X + kLabelPad, r.Y + kLabelPad + metrics.ascent()), name);
    text.drawText(QPointF(r.X + kLabelPad, r.Y + kLabelPad + line + metrics.ascent()), size);
  }
  return img;
}

void TreemapView::MapChanged() {
  UpdateLegend();
  if (!presenter_.MapPane().Map) {
    generation_->fetch_add(1);
    painted_.reset();
    image_ = QImage();
    update();
    return;
  }
  StartPainting();
}

void TreemapView::StartPainting() {
  const std::shared_ptr<const Treemap> map = presenter_.MapPane().Map;
  if (!map) return;
  const int generation = generation_->fetch_add(1) + 1;
  const qreal dpr = devicePixelRatioF();
  const QSize size(static_cast<int>(std::lround(map->Width * dpr)),
                   static_cast<int>(std::lround(map->Height * dpr)));
  const QColor background = palette().color(QPalette::Window);
  MapLook look;
  look.Colouring = presenter_.MapPane().Colouring;
  look.Mark = presenter_.MapPane().Mark;
  look.Font = font();
  if (look.Colouring == MapColouring::Change) {
    const DiskObject* listed = ObjectOf(presenter_.Explorer(), presenter_.SelectedNode());
    if (ComparisonFor(presenter_, listed)) {
      look.Comparison = presenter_.Comparing;
      look.Allocated = presenter_.Toggles().Allocated;
      look.Listed = listed;
      look.Rows = RowChanges(presenter_.List());
    }
  }
  QPointer<TreemapView> self(this);
  std::shared_ptr<std::atomic<int>> current = generation_;
  painter_.clear();
  painter_.start([self, map, size, dpr, background, current, generation, look] {
    QImage img = Paint(*map, size, dpr, background, current.get(), generation, look);
    if (img.isNull() || current->load() != generation) return;
    // Back on the window thread; dropped there when a newer map came meanwhile (or with the
    // view, whose destructor waits for this thread).
    QMetaObject::invokeMethod(
        self.data(),
        [self, map, current, generation, img = std::move(img)]() mutable {
          if (!self || current->load() != generation) return;
          self->painted_ = map;
          self->image_ = std::move(img);
          self->update();
          emit self->pictureReady();
        },
        Qt::QueuedConnection);
  });
}

void TreemapView::HighlightChanged() {
  update();
  const std::uint32_t at = presenter_.MapPane().Highlight;
  const QString text =
      at == kNoRect ? QString() : DisplayText(DescribeMapRect(presenter_, at).Line());
  if (text == accessibleDescription()) return;
  setAccessibleDescription(text);
  QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
  QAccessible::updateAccessibility(&changed);
  if (hasFocus()) {
    // Announced as the highlight moves, as a list announces its current item.
    QAccessibleEvent focus(this, QAccessible::Focus);
    QAccessible::updateAccessibility(&focus);
  }
}

QString TreemapView::TooltipText(std::uint32_t rect) const {
  const MapDescription d = DescribeMapRect(presenter_, rect);
  const QString size = DisplayText(SizeText(d.Size) + ", " + PercentText(d.Share) + "%");
  if (d.Name == "Files") return "Files\n" + VisibleText(d.Path) + "\n" + size;
  const QString type = d.Type.empty() ? QString() : "\n" + DisplayText(d.Type);
  return VisibleText(d.Path) + "\n" + size + type;
}

void TreemapView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  if (image_.isNull()) return;
  const QSizeF logical = image_.deviceIndependentSize();
  // Stretched to the pane while the picture of a new size is painted.
  const QSize room = MapRoom();
  p.drawImage(QRectF(QPointF(0, 0), logical.toSize() == room ? logical : QSizeF(room)), image_);
  const TreemapPane& pane = presenter_.MapPane();
  if (pane.Map && pane.Map == painted_ && pane.Highlight < pane.Map->Rects.size()) {
    const MapRect& r = pane.Map->Rects[pane.Highlight];
    const QRectF box(r.X, r.Y, r.W, r.H);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 3));
    p.drawRect(box.adjusted(1.5, 1.5, -1.5, -1.5));
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(box.adjusted(1.5, 1.5, -1.5, -1.5));
  }
  if (hasFocus()) {
    p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

void TreemapView::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  UpdateLegend();
  const QSize room = MapRoom();
  if (!isHidden()) SetTreemapSize(presenter_, room.width(), room.height());
}

QSize TreemapView::MapRoom() const {
  return legend_ && !legend_->isHidden() ? QSize(std::max(0, width() - legend_->width()), height())
                                         : size();
}

QStringList TreemapView::LegendRows(const Treemap& map) {
  QStringList out;
  for (const auto& [category, share] : LegendEntries(map))
    out << DisplayText(std::string(CategoryName(category)) + ", " + PercentText(share) + "%");
  return out;
}

void TreemapView::UpdateLegend() {
  const TreemapPane& pane = presenter_.MapPane();
  if (byBranch_) byBranch_->setChecked(pane.Colouring == MapColouring::Branch);
  if (byType_) byType_->setChecked(pane.Colouring == MapColouring::FileType);
  if (byChange_) byChange_->setChecked(pane.Colouring == MapColouring::Change);
  const bool byChange = pane.Colouring == MapColouring::Change;
  const bool shown = pane.Colouring == MapColouring::FileType || byChange;
  if (!legend_) {
    if (!shown) return;
    legend_ = new QListWidget(this);
    legend_->setObjectName("TreemapLegend");
    legend_->setAccessibleName("Treemap legend");
    legend_->setSelectionMode(QAbstractItemView::NoSelection);
    legend_->setFocusPolicy(Qt::TabFocus);
    legend_->setFrameShape(QFrame::NoFrame);
    legend_->hide();
  }
  const int w = std::min(width() / 3, legend_->fontMetrics().horizontalAdvance(
                                          "Source and text, 100.0%") + kSwatch + 32);
  const bool wasShown = !legend_->isHidden();
  legend_->setGeometry(width() - w, 0, w, height());
  legend_->setVisible(shown);
  if (byChange) {
    // The four colours, whatever the map: what each says.
    legend_->clear();
    for (std::size_t i = 0; i < kMapChanges; ++i) {
      QPixmap swatch(kSwatch, kSwatch);
      swatch.fill(QColor::fromRgb(kChangeColours[i]));
      const QString text = MapChangeName(static_cast<MapChange>(i));
      auto* item = new QListWidgetItem(QIcon(swatch), text, legend_);
      item->setData(Qt::AccessibleTextRole, text);
    }
  } else if (shown && pane.Map) {
    const auto entries = LegendEntries(*pane.Map);
    const QStringList rows = LegendRows(*pane.Map);
    legend_->clear();
    for (int i = 0; i < rows.size(); ++i) {
      QPixmap swatch(kSwatch, kSwatch);
      swatch.fill(QColor::fromRgb(
          CategoryPalette()[static_cast<std::size_t>(entries[static_cast<std::size_t>(i)].first)]));
      auto* item = new QListWidgetItem(QIcon(swatch), rows[i], legend_);
      item->setData(Qt::AccessibleTextRole, rows[i]);
    }
  } else if (!pane.Pending) {
    legend_->clear();
  }
  // The map's room changed with the legend: laid out again for it.
  if (wasShown != shown && !isHidden()) {
    const QSize room = MapRoom();
    SetTreemapSize(presenter_, room.width(), room.height());
  }
}

QList<QAction*> TreemapView::AddColourMenu(QMenu* view, QAction* before) {
  auto* menu = new QMenu("Co&lour By", view);
  menu->setObjectName("mnuViewColourBy");
  menu->menuAction()->setObjectName("mnuViewColourBy");
  view->insertMenu(before, menu);
  auto* group = new QActionGroup(menu);
  byBranch_ = menu->addAction("&Branch");
  byBranch_->setObjectName("mnuViewColourBranch");
  byType_ = menu->addAction("File &Type");
  byType_->setObjectName("mnuViewColourType");
  byChange_ = menu->addAction("&Change");
  byChange_->setObjectName("mnuViewColourChange");
  for (QAction* a : {byBranch_, byType_, byChange_}) {
    a->setCheckable(true);
    group->addAction(a);
  }
  connect(byBranch_, &QAction::triggered, this, [this] {
    SetMapColouring(presenter_, MapColouring::Branch);
    presenter_.KeepSettings();
  });
  connect(byType_, &QAction::triggered, this, [this] {
    SetMapColouring(presenter_, MapColouring::FileType);
    presenter_.KeepSettings();
  });
  connect(byChange_, &QAction::triggered, this, [this] {
    SetMapColouring(presenter_, MapColouring::Change);
    presenter_.KeepSettings();
  });
  UpdateLegend();
  return {byBranch_, byType_, byChange_};
}

void TreemapView::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  // A new palette (light or dark) repaints the background around the rectangles.
  if (e->type() == QEvent::PaletteChange && presenter_.MapPane().Map) StartPainting();
}

void TreemapView::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton)
    TreemapClick(presenter_, float(e->position().x()), float(e->position().y()));
}

void TreemapView::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton)
    TreemapDoubleClick(presenter_, float(e->position().x()), float(e->position().y()));
}

void TreemapView::contextMenuEvent(QContextMenuEvent* e) {
  if (e->reason() == QContextMenuEvent::Mouse)
    TreemapRightClick(presenter_, float(e->pos().x()), float(e->pos().y()));
  else
    TreemapKey(presenter_, MapKey::Menu);
}

void TreemapView::keyPressEvent(QKeyEvent* e) {
  MapKey key;
  switch (e->key()) {
    case Qt::Key_Left:
      key = MapKey::Left;
      break;
    case Qt::Key_Right:
      key = MapKey::Right;
      break;
    case Qt::Key_Up:
      key = MapKey::Up;
      break;
    case Qt::Key_Down:
      key = MapKey::Down;
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      key = MapKey::Enter;
      break;
    case Qt::Key_Backspace:
      key = MapKey::Back;
      break;
    default:
      QWidget::keyPressEvent(e);
      return;
  }
  TreemapKey(presenter_, key);
}

bool TreemapView::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(e);
    const TreemapPane& pane = presenter_.MapPane();
    const std::uint32_t hit =
        pane.Map ? MapHit(*pane.Map, float(help->pos().x()), float(help->pos().y())) : kNoRect;
    if (hit == kNoRect) {
      QToolTip::hideText();
      e->ignore();
    } else {
      QToolTip::showText(help->globalPos(), TooltipText(hit), this);
    }
    return true;
  }
  if (e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut) update();
  return QWidget::event(e);
}

SplitHandle::SplitHandle(QWidget* parent) : QWidget(parent) {
  setObjectName("imgTreemapSplitter");
  setAccessibleName("Treemap splitter");
  setCursor(Qt::SplitVCursor);
}

void SplitHandle::mouseMoveEvent(QMouseEvent* e) {
  if (e->buttons() & Qt::LeftButton) emit dragged(mapToParent(e->position().toPoint()).y());
}

void SplitHandle::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) emit released();
}

void SplitHandle::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  p.setPen(palette().color(QPalette::Mid));
  const int y = height() / 2;
  p.drawLine(width() / 2 - 12, y, width() / 2 + 12, y);
}

}  // namespace kestrum::gui
