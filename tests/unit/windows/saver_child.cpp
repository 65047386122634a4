// A saver killed part-way: starts replacing the file named first on its command line, writes a
// line, creates the file named second to say so, and waits to be ended.
#include <windows.h>

#include <filesystem>

#include "platform/files/system_file_system.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    varne::files::SystemFileSystem files;
    auto writer = files.replace_file(std::filesystem::path(argv[1]).u16string());
    writer->write_line(u"half of a save");
    files.create_file(std::filesystem::path(argv[2]).u16string())->close();
    Sleep(INFINITE);
}
