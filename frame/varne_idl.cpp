// Prints the type library's description, made from the descriptor table, to a file or to standard
// output; given a second file, writes there the extent of the dual interfaces' function tables.
#include <cstdio>
#include <fstream>

#include "frame/type_library.h"

namespace {

bool write(const char* path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out)
        std::fprintf(stderr, "varne_idl: cannot write %s\n", path);
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    const varne::LibraryDescriptor& library = varne::library_descriptor();
    const std::string idl = varne::type_library_idl(library);
    if (argc < 2) {
        std::fwrite(idl.data(), 1, idl.size(), stdout);
        return 0;
    }
    if (!write(argv[1], idl))
        return 1;
    if (argc > 2 && !write(argv[2], varne::dual_interface_extent_header(library)))
        return 1;
    return 0;
}
