#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace varne::workbook {

// One stream of a compound file, given as the consecutive pieces that make it up.
struct CompoundStream {
    std::u16string name;
    std::vector<std::span<const uint8_t>> parts;
};

// Receives a file's bytes in order; it raises to abandon the write.
using ByteSink = std::function<void(std::span<const uint8_t>)>;

// Writes a version-3 compound file (512-byte sectors) with the streams in its root storage,
// each stream one run of sectors. A stream under 4096 bytes is zero-padded to 4096 so that
// nothing needs the mini stream. Raises AutomationError 1004 for a stream over 2 GB.
void write_compound_file(const std::vector<CompoundStream>& streams, const ByteSink& sink);

}  // namespace varne::workbook
