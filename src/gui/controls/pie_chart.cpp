#include "gui/controls/pie_chart.h"

#include <QKeyEvent>
#include <QLegendMarker>
#include <QMouseEvent>
#include <QPieSeries>
#include <QPieSlice>

#include "gui/controls/text.h"

namespace kestrum::gui {

QColor PieChartView::PaletteColor(int index) {
  // The classic sixteen colours: 0-7 dark, 8-15 light.
  static const QRgb kPalette[16] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                                    0x808000, 0xc0c0c0, 0x808080, 0x0000ff, 0x00ff00, 0x00ffff,
                                    0xff0000, 0xff00ff, 0xffff00, 0xffffff};
  return QColor(kPalette[index & 15]);
}

PieChartView::PieChartView(QWidget* parent) : QChartView(parent) {
  setObjectName("Graph");
  setAccessibleName("Pie chart");
  setRenderHint(QPainter::Antialiasing);
  setFocusPolicy(Qt::StrongFocus);
  chart()->setAnimationOptions(QChart::NoAnimation);
  chart()->legend()->setAlignment(Qt::AlignRight);
  chart()->setBackgroundRoundness(0);
}

void PieChartView::SetData(const PieChartData& data) {
  data_ = data;
  chart()->removeAllSeries();
  auto* series = new QPieSeries();
  series->setPieSize(0.62);
  QStringList described;
  double device = 0;
  for (const PieSlice& s : data.Slices) device += s.DrawnValue();
  int small = 0;
  for (const PieSlice& s : data.Slices) {
    auto* slice = new QPieSlice(DisplayText(s.Label), s.DrawnValue());
    slice->setBrush(PaletteColor(s.Color));
    slice->setBorderColor(QColor(64, 64, 64));
    slice->setLabelVisible(true);
    slice->setLabelPosition(QPieSlice::LabelOutside);
    // Labels of neighbouring thin slices would lie on top of each other: longer arms apart.
    if (device > 0 && s.DrawnValue() / device < 0.05)
      slice->setLabelArmLengthFactor(0.12 + 0.16 * small++);
    series->append(slice);
    described << DisplayText(s.Label + ", " + s.Legend);
  }
  chart()->addSeries(series);
  // The legend shows each slice's share rather than its label.
  const QList<QLegendMarker*> markers = chart()->legend()->markers(series);
  for (int i = 0; i < markers.size() && i < static_cast<int>(data.Slices.size()); ++i)
    markers[i]->setLabel(DisplayText(data.Slices[static_cast<std::size_t>(i)].Legend));
  setAccessibleDescription(described.join("; "));
}

void PieChartView::mouseReleaseEvent(QMouseEvent* e) {
  QChartView::mouseReleaseEvent(e);
  emit clicked();
}

void PieChartView::keyPressEvent(QKeyEvent* e) {
  // The keyboard's way back to the list.
  if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter ||
      e->key() == Qt::Key_Space) {
    emit clicked();
    return;
  }
  QChartView::keyPressEvent(e);
}

}  // namespace kestrum::gui
