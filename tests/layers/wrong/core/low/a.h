#include "core/high/b.h"
#include <QString>
extern std::atomic<bool> Scanning;
