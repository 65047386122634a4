#pragma once

#include "frame/dispatch.h"

namespace varne {

// The creation step of each class, defined by the subsystem that builds the class.
Ref<Dispatch> create_browser();
Ref<Dispatch> create_config();
Ref<Dispatch> create_logging();
Ref<Dispatch> create_timing();
Ref<Dispatch> create_excel_conn();

}  // namespace varne
