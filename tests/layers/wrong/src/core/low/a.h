#include "core/high/b.h"
#include <QString>
extern std::atomic<bool> Scanning;
#include <core/high/b.h>
#include "../high/b.h"
#include "core/low/../high/b.h"
