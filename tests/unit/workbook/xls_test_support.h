#pragma once

#include "frame/text.h"
#include "platform/files/system_file_system.h"
#include "spreadsheet/workbook/xls_writer.h"
#include "tests/support/disk_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <string>

namespace varne::workbook::testing {

// A fresh folder of its own for each test's workbooks.
class ScratchFolder : public varne::testing::TemporaryFolder {
public:
    ScratchFolder() : varne::testing::TemporaryFolder("varne-workbook-") {}

    std::string file(const std::string& name) const { return path(name).string(); }
    size_t entry_count() const
    {
        size_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(path()))
            ++count;
        return count;
    }
};

// Saves through the real file system, as the library does.
inline void save_on_disk(const Workbook& workbook, const std::string& path, const SaveOptions& options = {})
{
    files::SystemFileSystem files;
    save_xls(workbook, files, from_utf8(path), options);
}

struct CommandResult {
    int status = -1;
    std::string output;
};

// Runs a shell command and collects its standard output; the command ends by itself.
inline CommandResult run_command(const std::string& command)
{
    CommandResult result;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[65536];
    size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, read);
    result.status = pclose(pipe);
    return result;
}

inline std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// What the independent readers (libgsf, xlrd, a raw record walk) see in a saved file.
inline nlohmann::json read_back(const std::string& path, size_t cell_limit = 1000)
{
    CommandResult result = run_command("/usr/bin/python3 " VARNE_WORKBOOK_TEST_DIR "/xls_readback.py " + quoted(path) +
                                       " --cells " + std::to_string(cell_limit));
    if (result.status != 0) {
        ADD_FAILURE() << "xls_readback.py failed on " << path << " with status " << result.status;
        return nlohmann::json::object();
    }
    return nlohmann::json::parse(result.output);
}

}  // namespace varne::workbook::testing
