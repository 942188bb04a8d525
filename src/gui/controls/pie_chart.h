#pragma once
#include <QChartView>

#include "core/rows/pie_data.h"

namespace kestrum::gui {

// The pie chart control ("Graph"): draws the core's slices with their labels, legends and
// palette colours; a click anywhere on it is reported by clicked().
class PieChartView : public QChartView {
  Q_OBJECT
 public:
  explicit PieChartView(QWidget* parent = nullptr);

  // Replaces the chart's slices. A slice of negative value is drawn as an empty wedge while
  // its label and legend keep the negative size text.
  void SetData(const PieChartData& data);
  const PieChartData& Data() const { return data_; }

  // The colour of a palette index of the sixteen-colour chart palette.
  static QColor PaletteColor(int index);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  PieChartData data_;
};

}  // namespace kestrum::gui
