#include "gui/controls/treemap_view.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QToolTip>
#include <cmath>

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
                          const std::atomic<int>* current, int generation) {
  QImage img(size, QImage::Format_RGB32);
  if (img.isNull()) return img;
  img.setDevicePixelRatio(dpr);
  img.fill(background);
  const std::vector<std::uint32_t>& palette = MapPalette();
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
    const QRgb base = palette[r.Hue % palette.size()];
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
  return img;
}

void TreemapView::MapChanged() {
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
  QPointer<TreemapView> self(this);
  std::shared_ptr<std::atomic<int>> current = generation_;
  painter_.clear();
  painter_.start([self, map, size, dpr, background, current, generation] {
    QImage img = Paint(*map, size, dpr, background, current.get(), generation);
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
  return VisibleText(d.Path) + "\n" + size;
}

void TreemapView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  if (image_.isNull()) return;
  const QSizeF logical = image_.deviceIndependentSize();
  // Stretched to the pane while the picture of a new size is painted.
  p.drawImage(QRectF(QPointF(0, 0), logical.toSize() == size() ? logical : QSizeF(size())), image_);
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
  if (!isHidden()) SetTreemapSize(presenter_, width(), height());
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
