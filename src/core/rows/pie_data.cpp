#include "core/rows/pie_data.h"

#include "core/rows/list_cells.h"

namespace kestrum {

namespace {

PieSlice Slice(double value, double device, const char* what, int color) {
  return {value, SizeText(value), PercentText(ShareOf(value, device)) + what, color};
}

}  // namespace

PieChartData PieChartOf(const DiskObject& d) {
  PieChartData chart;
  chart.PathLabel = d.Label();
  if (d.RootDirectory && d.Parent) {
    const DiskObject& v = *d.Parent;
    const double overhead = v.Drive().DeviceSize - d.AllocatedSpace - v.Drive().FreeSpace;
    const double waste = d.AllocatedSpace - d.UsedSpace;
    chart.Slices = {Slice(v.Drive().FreeSpace, v.Drive().DeviceSize, "% Free", kPaletteLightGreen),
                    Slice(d.UsedSpace, v.Drive().DeviceSize, "% Used", kPaletteLightRed),
                    Slice(overhead, v.Drive().DeviceSize, "% Overhead", kPaletteDarkYellow),
                    Slice(waste, v.Drive().DeviceSize, "% Wasted", kPaletteLightYellow)};
  } else {
    chart.Slices = {Slice(d.Drive().FreeSpace, d.Drive().DeviceSize, "% Free", kPaletteLightGreen),
                    Slice(d.AllocatedSpace, d.Drive().DeviceSize, "% Used", kPaletteLightRed)};
  }
  return chart;
}

}  // namespace kestrum
