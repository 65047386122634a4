#pragma once

#include "frame/text.h"

namespace varne {

class Clock;

// An automation date as the log writes it, "hh:mm:ss dd/mmm/yyyy": 24-hour time, the month
// abbreviated as the clock port names it (the user's date settings).
BStr log_time_text(double date, Clock& clock);

}  // namespace varne
