#pragma once
#include <string>

namespace kestrum {

// A number as plain decimal text: no grouping, no decimals for a whole number, otherwise
// up to 15 significant digits with the given separator.
std::string PlainNumber(double value, const std::string& decimalSeparator = ".");

// A number with `decimals` decimals (rounded) and a point, whatever the user's locale: for
// files that other programs read.
std::string FixedText(double value, int decimals);

// The decimal separator of the user's locale (LC_NUMERIC), "." when the locale has none.
std::string DecimalSeparator();

// Byte count as " b", " kb", " mb" or " gb" text (binary units, two decimals cut, not
// rounded, shown as "#.0#"); 0 gives "0 b"; there is no unit above gb.
std::string FormatSize(double bytes, const std::string& decimalSeparator = DecimalSeparator());

// Percentage (0..100) with one rounded decimal; exactly 0 gives "0". No "%" sign.
std::string FormatPercent(float percent, const std::string& decimalSeparator = DecimalSeparator());

}  // namespace kestrum
