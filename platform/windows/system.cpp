#include "platform/system.h"

#include "platform/windows/system_clock.h"
#include "platform/files/system_file_system.h"

namespace varne {

Clock& system_clock()
{
    static WindowsClock clock;
    return clock;
}

FileSystem& system_file_system()
{
    static SystemFileSystem files;
    return files;
}

}  // namespace varne
