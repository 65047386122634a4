// Prints the type library's description, made from the descriptor table, to a file or to standard output.
#include <cstdio>
#include <fstream>

#include "frame/type_library.h"

int main(int argc, char** argv)
{
    const std::string idl = varne::type_library_idl(varne::library_descriptor());
    if (argc < 2) {
        std::fwrite(idl.data(), 1, idl.size(), stdout);
        return 0;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << idl;
    out.close();
    if (!out) {
        std::fprintf(stderr, "varne_idl: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
