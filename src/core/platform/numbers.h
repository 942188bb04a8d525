#pragma once
#include <string>

namespace kestrum {

// A number as plain decimal text: no grouping, no decimals for a whole number, otherwise
// up to 15 significant digits with the given separator.
std::string PlainNumber(double value, const std::string& decimalSeparator = ".");

}  // namespace kestrum
