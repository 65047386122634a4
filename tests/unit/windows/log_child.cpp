// A process that holds a log open: starts the log named first on its command line, appends one
// entry, creates the file named second to say so, and waits to be ended.
#include <windows.h>

#include <filesystem>

#include "platform/files/system_file_system.h"
#include "platform/system.h"
#include "records/logging.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    auto log = varne::make_object<varne::Logging>(varne::system_file_system(), varne::system_clock());
    if (log->StartLog(std::filesystem::path(argv[1]).u16string()) != 0)
        return 1;
    log->AppendLog(u"held by the child");
    varne::files::SystemFileSystem().create_file(std::filesystem::path(argv[2]).u16string())->close();
    Sleep(INFINITE);
}
