#include "spreadsheet/workbook/compound_file.h"

#include "frame/automation_error.h"
#include "spreadsheet/workbook/byte_writer.h"

#include <algorithm>
#include <array>

namespace varne::workbook {

namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kEntriesPerFatSector = kSectorSize / 4;
constexpr uint32_t kEntriesPerDifatSector = kEntriesPerFatSector - 1;  // the last one links the next
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint32_t kDirectoryEntrySize = 128;
constexpr uint32_t kMiniStreamCutoff = 4096;
constexpr uint64_t kMaxStreamSize = 0x7FFFFFFF;

constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSector = 0xFFFFFFFD;
constexpr uint32_t kDifatSector = 0xFFFFFFFC;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

constexpr uint8_t kStorageRoot = 5;
constexpr uint8_t kStreamObject = 2;
constexpr uint8_t kRed = 0;
constexpr uint8_t kBlack = 1;

uint32_t sectors_for(uint64_t bytes)
{
    return static_cast<uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
}

uint32_t difat_sectors_for(uint32_t fat_sectors)
{
    if (fat_sectors <= kHeaderDifatEntries)
        return 0;
    return (fat_sectors - kHeaderDifatEntries + kEntriesPerDifatSector - 1) / kEntriesPerDifatSector;
}

// Sibling order of a storage's children: shorter names first, then by upper-cased code units.
bool precedes(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size())
        return a.size() < b.size();
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char16_t x, char16_t y) { return upper(x) < upper(y); });
}

struct DirectoryEntry {
    std::u16string name;
    uint8_t type = 0;
    uint8_t colour = kRed;  // what an unused entry holds
    uint32_t left = kNoStream;
    uint32_t right = kNoStream;
    uint32_t child = kNoStream;
    uint32_t start = 0;
    uint32_t size = 0;
};

// Links the sorted entries [first, last) into a balanced tree and returns its root. Every
// path to a leaf then has the same number of black nodes when only the deepest level is red.
uint32_t link_tree(std::vector<DirectoryEntry>& entries, const std::vector<uint32_t>& sorted, size_t first, size_t last,
                   int depth, int deepest)
{
    if (first >= last)
        return kNoStream;
    size_t middle = first + (last - first) / 2;
    DirectoryEntry& node = entries[sorted[middle]];
    node.colour = depth == deepest && deepest > 0 ? kRed : kBlack;
    node.left = link_tree(entries, sorted, first, middle, depth + 1, deepest);
    node.right = link_tree(entries, sorted, middle + 1, last, depth + 1, deepest);
    return sorted[middle];
}

int tree_depth(size_t count)
{
    int depth = -1;
    for (; count > 0; count /= 2)
        ++depth;
    return depth;
}

void write_entry(ByteWriter& out, const DirectoryEntry& entry)
{
    size_t name_units = std::min<size_t>(entry.name.size(), 31);
    out.units(std::u16string_view(entry.name).substr(0, name_units), false);
    out.zeros(64 - name_units * 2);
    out.u16(entry.type == 0 ? 0 : static_cast<uint16_t>((name_units + 1) * 2));
    out.u8(entry.type).u8(entry.colour).u32(entry.left).u32(entry.right).u32(entry.child);
    out.zeros(16 + 4 + 8 + 8);  // CLSID, state bits, creation and modification times
    out.u32(entry.start).u32(entry.size).u32(0);
}

}  // namespace

void write_compound_file(const std::vector<CompoundStream>& streams, const ByteSink& sink)
{
    std::vector<uint64_t> sizes;
    for (const auto& stream : streams) {
        uint64_t size = 0;
        for (auto part : stream.parts)
            size += part.size();
        if (size > kMaxStreamSize)
            throw AutomationError(1004, "The workbook is too large for the file format: a stream exceeds 2 GB.");
        sizes.push_back(std::max<uint64_t>(size, kMiniStreamCutoff));
    }

    // Sectors in file order: the streams, the directory, the FAT, then the DIFAT.
    std::vector<DirectoryEntry> entries(1);
    entries[0].name = u"Root Entry";
    entries[0].type = kStorageRoot;
    entries[0].colour = kBlack;
    entries[0].start = kEndOfChain;
    uint32_t next_sector = 0;
    for (size_t i = 0; i < streams.size(); ++i) {
        DirectoryEntry entry;
        entry.name = streams[i].name;
        entry.type = kStreamObject;
        entry.start = next_sector;
        entry.size = static_cast<uint32_t>(sizes[i]);
        next_sector += sectors_for(sizes[i]);
        entries.push_back(std::move(entry));
    }
    const uint32_t directory_start = next_sector;
    const uint32_t directory_sectors = sectors_for(uint64_t{entries.size()} * kDirectoryEntrySize);
    const uint32_t used_sectors = directory_start + directory_sectors;
    uint32_t fat_sectors = 1;
    while (uint64_t{fat_sectors} * kEntriesPerFatSector < used_sectors + fat_sectors + difat_sectors_for(fat_sectors))
        ++fat_sectors;
    const uint32_t difat_sectors = difat_sectors_for(fat_sectors);
    const uint32_t fat_start = used_sectors;
    const uint32_t difat_start = fat_start + fat_sectors;

    std::vector<uint32_t> sorted;
    for (uint32_t i = 1; i < entries.size(); ++i)
        sorted.push_back(i);
    std::sort(sorted.begin(), sorted.end(),
              [&](uint32_t a, uint32_t b) { return precedes(entries[a].name, entries[b].name); });
    entries[0].child = link_tree(entries, sorted, 0, sorted.size(), 0, tree_depth(sorted.size()));

    std::vector<uint32_t> fat(size_t{fat_sectors} * kEntriesPerFatSector, kFreeSector);
    auto chain = [&](uint32_t first, uint32_t count) {
        for (uint32_t s = first; s < first + count; ++s)
            fat[s] = s + 1 == first + count ? kEndOfChain : s + 1;
    };
    for (size_t i = 1; i < entries.size(); ++i)
        chain(entries[i].start, sectors_for(entries[i].size));
    chain(directory_start, directory_sectors);
    std::fill_n(fat.begin() + fat_start, fat_sectors, kFatSector);
    std::fill_n(fat.begin() + difat_start, difat_sectors, kDifatSector);

    ByteWriter header;
    header.u32(0xE011CFD0).u32(0xE11AB1A1).zeros(16);
    header.u16(0x003E).u16(0x0003).u16(0xFFFE).u16(9).u16(6).zeros(6);
    header.u32(0).u32(fat_sectors).u32(directory_start).u32(0).u32(kMiniStreamCutoff);
    header.u32(kEndOfChain).u32(0);
    header.u32(difat_sectors > 0 ? difat_start : kEndOfChain).u32(difat_sectors);
    for (uint32_t i = 0; i < kHeaderDifatEntries; ++i)
        header.u32(i < fat_sectors ? fat_start + i : kFreeSector);
    sink(header.bytes());

    static constexpr std::array<uint8_t, kMiniStreamCutoff> kZeros{};
    auto pad = [&](uint64_t written, uint64_t target) {
        for (uint64_t left = target - written; left > 0;) {
            uint64_t chunk = std::min<uint64_t>(left, kZeros.size());
            sink(std::span<const uint8_t>(kZeros.data(), chunk));
            left -= chunk;
        }
    };
    for (size_t i = 0; i < streams.size(); ++i) {
        uint64_t written = 0;
        for (auto part : streams[i].parts) {
            sink(part);
            written += part.size();
        }
        pad(written, uint64_t{sectors_for(sizes[i])} * kSectorSize);
    }

    ByteWriter tail;
    for (const auto& entry : entries)
        write_entry(tail, entry);
    for (size_t i = entries.size(); i < size_t{directory_sectors} * (kSectorSize / kDirectoryEntrySize); ++i)
        write_entry(tail, DirectoryEntry{});
    for (uint32_t entry : fat)
        tail.u32(entry);
    for (uint32_t d = 0; d < difat_sectors; ++d) {
        for (uint32_t k = 0; k < kEntriesPerDifatSector; ++k) {
            uint32_t fat_index = kHeaderDifatEntries + d * kEntriesPerDifatSector + k;
            tail.u32(fat_index < fat_sectors ? fat_start + fat_index : kFreeSector);
        }
        tail.u32(d + 1 < difat_sectors ? difat_start + d + 1 : kEndOfChain);
    }
    sink(tail.bytes());
}

}  // namespace varne::workbook
