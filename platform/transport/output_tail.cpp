#include "platform/transport/output_tail.h"

#include <sstream>
#include <vector>

namespace varne {

std::string last_lines(std::string_view text, size_t count)
{
    std::istringstream lines_in{std::string(text)};
    std::vector<std::string> lines;
    for (std::string line; std::getline(lines_in, line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        lines.push_back(std::move(line));
        if (lines.size() > count)
            lines.erase(lines.begin());
    }
    std::string tail;
    for (const auto& line : lines)
        tail += (tail.empty() ? "" : " | ") + line;
    return tail;
}

}  // namespace varne
