#include "bench/report.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace varne::bench {

namespace {

std::string number(double value, const std::string& unit)
{
    char text[64];
    std::snprintf(text, sizeof text, value < 10 ? "%.3f %s" : "%.1f %s", value, unit.c_str());
    return text;
}

std::vector<std::string> columns(const Row& row)
{
    char ratio[32] = "-";
    if (row.baseline && *row.baseline > 0)
        std::snprintf(ratio, sizeof ratio, "%.2fx", row.figure / *row.baseline);
    std::string target = "report";
    std::string verdict = "-";
    char limit[32];
    if (row.target == Row::Target::kRatioAtMost) {
        std::snprintf(limit, sizeof limit, "<= %.1fx", row.limit);
        target = limit;
        verdict = row.figure <= row.limit * *row.baseline ? "PASS" : "FAIL";
    } else if (row.target == Row::Target::kFigureBelow) {
        target = "< " + number(row.limit, row.unit);
        verdict = row.figure < row.limit ? "PASS" : "FAIL";
    }
    return {row.name, number(row.figure, row.unit), row.baseline ? number(*row.baseline, row.unit) : "-", ratio, target,
            verdict};
}

}  // namespace

void print_table(const std::vector<Row>& rows)
{
    std::vector<std::vector<std::string>> lines{{"figure", "value", "baseline", "ratio", "target", "result"}};
    for (const auto& row : rows)
        lines.push_back(columns(row));
    std::vector<size_t> widths(lines.front().size(), 0);
    for (const auto& line : lines) {
        for (size_t column = 0; column < line.size(); ++column)
            widths[column] = std::max(widths[column], line[column].size());
    }
    for (const auto& line : lines) {
        std::string text = line[0] + std::string(widths[0] - line[0].size(), ' ');
        for (size_t column = 1; column < line.size(); ++column)
            text += "  " + std::string(widths[column] - line[column].size(), ' ') + line[column];
        std::cout << text << '\n';
    }
    std::cout.flush();
}

void print_tab_separated(const std::vector<Row>& rows)
{
    for (const auto& row : rows) {
        const char* kind = row.target == Row::Target::kRatioAtMost   ? "ratio"
                           : row.target == Row::Target::kFigureBelow ? "below"
                                                                     : "report";
        std::cout << row.name << '\t' << row.figure << '\t' << (row.baseline ? std::to_string(*row.baseline) : "")
                  << '\t' << row.unit << '\t' << kind << '\t' << row.limit << '\n';
    }
    std::cout.flush();
}

}  // namespace varne::bench
