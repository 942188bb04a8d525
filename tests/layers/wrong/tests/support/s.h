#include "core/high/b.h"
