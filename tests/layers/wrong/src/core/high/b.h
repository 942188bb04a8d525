#include "core/low/a.h"
