#pragma once
#include <string>

namespace kestrum {

// The error code of the last failed system call on this thread. Call it right after the
// failing call, before anything else can overwrite errno.
int LastApiError();

// The system's message text for an errno value, for example "No such file or directory".
std::string ErrorText(int code);

}  // namespace kestrum
