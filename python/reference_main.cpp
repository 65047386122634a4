// Prints the library's reference texts, or checks and rewrites the README's reference section:
//   varne_reference stub            the Python stub (varne.pyi)
//   varne_reference markdown        the README's reference section
//   varne_reference check README    fails, printing the difference's place, when the section is stale
//   varne_reference update README   rewrites the section in place
#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "frame/reference.h"

namespace {

constexpr std::string_view kBegin = "<!-- reference: made by varne_reference; scripts/update-reference.sh -->\n";
constexpr std::string_view kEnd = "<!-- end of reference -->\n";

bool read_file(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

int with_section(const std::string& path, bool update)
{
    std::string text;
    if (!read_file(path, text)) {
        std::cerr << path << ": cannot be read\n";
        return 2;
    }
    size_t begin = text.find(kBegin);
    size_t end = text.find(kEnd);
    if (begin == std::string::npos || end == std::string::npos || end < begin) {
        std::cerr << path << ": no reference section between its markers\n";
        return 2;
    }
    begin += kBegin.size();
    std::string expected = varne::markdown_reference();
    std::string current = text.substr(begin, end - begin);
    if (current == expected)
        return 0;
    if (!update) {
        size_t at = 0;
        while (at < current.size() && at < expected.size() && current[at] == expected[at])
            ++at;
        size_t line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(begin + at), '\n');
        std::cerr << path << ":" << line << ": the reference section differs from the descriptor's; run "
                  << "scripts/update-reference.sh\n";
        return 1;
    }
    text.replace(begin, end - begin, expected);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return out ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "stub" && argc == 2) {
        std::cout << varne::python_stub();
        return 0;
    }
    if (mode == "markdown" && argc == 2) {
        std::cout << varne::markdown_reference();
        return 0;
    }
    if ((mode == "check" || mode == "update") && argc == 3)
        return with_section(argv[2], mode == "update");
    std::cerr << "usage: varne_reference stub | markdown | check README.md | update README.md\n";
    return 2;
}
