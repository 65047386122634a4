#include "composition/process_environment.h"
#include "platform/posix/registration.h"
#include "platform/system.h"

namespace varne {

namespace {

// The entry points register the library in the per-user file on the system's own disk, found
// through the process's environment as it is when a host calls them.
const bool kRegistrationPortsGiven = [] {
    posix::use_registration_ports(system_file_system(), process_environment);
    return true;
}();

}  // namespace

}  // namespace varne
