#pragma once
#include <string>

namespace kestrum {

// The error code of the last failed system call on this thread. Call it right after the
// failing call, before anything else can overwrite errno.
int LastApiError();

// The system's message text for an errno value alone, for example "No such file or
// directory"; "Unknown error " + code when the system has none.
std::string SystemText(int code);

// "(" + code + ") " + the system's message text for an errno value, for example
// "(2) No such file or directory". Linux texts carry no line break.
std::string ErrorText(int code);

}  // namespace kestrum
