#include "core/low/a.h"
#include "support/s.h"
#include <gtest/gtest.h>
#include "core/high/b.h"
