#include "tests/support/manual_clock.h"
