#include "platform/system.h"

#include "platform/files/system_file_system.h"
#include "platform/posix/system_clock.h"

namespace varne {

Clock& system_clock()
{
    static SystemClock clock;
    return clock;
}

FileSystem& system_file_system()
{
    static SystemFileSystem files;
    return files;
}

}  // namespace varne
