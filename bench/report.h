#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varne::bench {

// One line of the report. A row without a target is reported only.
struct Row {
    std::string name;
    double figure;
    std::optional<double> baseline;
    std::string unit;
    enum class Target { kReportOnly, kRatioAtMost, kFigureBelow } target = Target::kReportOnly;
    double limit = 0;
};

// The rows as a table with aligned columns and a verdict for each row that has a target.
void print_table(const std::vector<Row>& rows);
// The rows as raw numbers, one per line: name, figure, baseline, unit, target kind, limit.
void print_tab_separated(const std::vector<Row>& rows);

}  // namespace varne::bench
