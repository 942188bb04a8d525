#pragma once
#include <functional>
#include <string_view>

namespace kestrum {

// Takes the next piece of a text being written (a report, an export); false when it could not
// be written, which ends the text.
using TextSink = std::function<bool(std::string_view)>;

}  // namespace kestrum
