#pragma once
#include <cstddef>
#include <ctime>
#include <string>

namespace kestrum {

// The widest bar: a row that fills its parent.
inline constexpr int kBarWidth = 60;

// part / whole, or 0 when either is 0 or the result is not a finite number, so that a
// folder or drive recorded as empty never yields inf or nan.
double ShareOf(double part, double whole);

// The bar of "|" for a fraction of the parent: fraction x 60 rounded to the nearest whole
// number, halves to even; never more than 60 (a file that grew since the scan, or a sparse
// file larger than its volume, stays within the column) and empty for anything not above 0.
std::string BarText(double fraction);
// The number of "|" BarText gives.
int BarLength(double fraction);

// The "% Parent" text of a fraction: FormatPercent of fraction x 100.
std::string PercentText(double fraction);

// A byte count as the size cell shows it (FormatSize).
std::string SizeText(double bytes);

// A modification time in the user's locale (its date and time formats); empty for 0.
std::string DateText(std::time_t when);

}  // namespace kestrum
