#pragma once

#include <map>
#include <string>

namespace varne::bench {

// The "--name value" pairs of a benchmark's command line, where a later pair of a name wins; a
// name without a value after it is passed over.
class NamedArguments {
public:
    NamedArguments(int argc, char** argv)
    {
        for (int i = 1; i + 1 < argc; i += 2)
            m_values[argv[i]] = argv[i + 1];
    }

    std::string text(const std::string& name, const std::string& otherwise) const
    {
        const auto found = m_values.find(name);
        return found == m_values.end() ? otherwise : found->second;
    }

    // Raises std::invalid_argument when the value given is no number.
    int number(const std::string& name, int otherwise) const
    {
        const auto found = m_values.find(name);
        return found == m_values.end() ? otherwise : std::stoi(found->second);
    }

private:
    std::map<std::string, std::string> m_values;
};

}  // namespace varne::bench
