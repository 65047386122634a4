#pragma once

#include "frame/text.h"

namespace varne {

// An automation date as the log writes it, "hh:mm:ss dd/mmm/yyyy": 24-hour time, the month
// abbreviated in the time locale that the host program has set ("Sep" in the C locale).
BStr log_time_text(double date);

}  // namespace varne
