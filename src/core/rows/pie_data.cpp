#include "core/rows/pie_data.h"

#include "core/rows/list_cells.h"

namespace kestrum {

namespace {

PieSlice Slice(double value, double device, const char* what, int color) {
  return {value, SizeText(value), PercentText(ShareOf(value, device)) + what, color};
}

}  // namespace

PieChartData PieChartOf(const DiskObject& d, const CrossedSpace& crossed) {
  PieChartData chart;
  chart.PathLabel = d.Label();
  if (d.RootDirectory && d.Parent) {
    const DiskObject& v = *d.Parent;
    const double used = d.UsedSpace - crossed.Used;
    const double allocated = d.AllocatedSpace - crossed.Allocated;
    const double overhead = v.Drive().DeviceSize - allocated - v.Drive().FreeSpace;
    const double waste = allocated - used;
    chart.Slices = {Slice(v.Drive().FreeSpace, v.Drive().DeviceSize, "% Free", kPaletteLightGreen),
                    Slice(used, v.Drive().DeviceSize, "% Used", kPaletteLightRed),
                    Slice(overhead, v.Drive().DeviceSize, "% Overhead", kPaletteDarkYellow),
                    Slice(waste, v.Drive().DeviceSize, "% Wasted", kPaletteLightYellow)};
  } else {
    chart.Slices = {Slice(d.Drive().FreeSpace, d.Drive().DeviceSize, "% Free", kPaletteLightGreen),
                    Slice(d.AllocatedSpace - crossed.Allocated, d.Drive().DeviceSize, "% Used",
                          kPaletteLightRed)};
  }
  return chart;
}

}  // namespace kestrum
