#pragma once
#include <string>
#include <vector>

#include "core/rows/drive_stats.h"
#include "core/tree/disk_model.h"

namespace kestrum {

// Palette indexes of the chart's sixteen colours used by the slices.
inline constexpr int kPaletteLightGreen = 10;
inline constexpr int kPaletteLightRed = 12;
inline constexpr int kPaletteDarkYellow = 6;
inline constexpr int kPaletteLightYellow = 14;

struct PieSlice {
  double Value = 0;    // bytes; may be negative (overhead or waste)
  std::string Label;   // FormatSize of Value, negative sizes included
  std::string Legend;  // share of the device, e.g. "45.3% Free"
  int Color = 0;       // palette index
  // What is drawn: a negative value as an empty wedge, never as its absolute value.
  double DrawnValue() const { return Value > 0 ? Value : 0; }
};

struct PieChartData {
  std::vector<PieSlice> Slices;  // in chart order
  std::string PathLabel;         // the object's Label, shown above the chart
};

// The pie chart of a drive (two slices: free and allocated space) or of a drive's scanned
// root folder (four: free, used bytes, drive overhead, allocation waste, which add up to the
// device size). Shares are of the device size; a device size of 0 gives shares of 0.
// crossed: what the scan counted on other file systems mounted below the root (see
// CrossedSpaceOf), which the drive's slices leave out: they are the drive's own.
PieChartData PieChartOf(const DiskObject& object, const CrossedSpace& crossed = {});

}  // namespace kestrum
