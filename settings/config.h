#pragma once

#include <string_view>
#include <vector>

#include "frame/interfaces.h"

namespace varne {

class FileSystem;

// A list of KEY=value settings in the order the keys were first stored, keys found regardless
// of case, loaded from and saved to a text file of CR LF lines. Positions are 16-bit: a walk
// past 32767 raises the overflow error (6).
class Config final : public _Config {
public:
    explicit Config(FileSystem& files);

    // 0 read; -1 an empty name or no such file. The list is empty first, whatever follows; a
    // file that cannot be read raises its error, a line end past position 32765 the overflow.
    int16_t Load(const BStr& Filename) override;
    // An empty variant once written; the 16-bit -1 for an empty name. Raises the file's error.
    Variant Save(const BStr& Filename) override;
    void RemoveAll() override;
    void SetItem(const BStr& Key, const BStr& Value) override;
    BStr GetItem(const BStr& Key) override;
    // Empties the key and keeps the entry, its value and its position.
    void UnSetItem(const BStr& Key) override;

private:
    struct Entry {
        BStr key;
        BStr value;
    };

    // The lowest position whose key matches, or -1.
    int16_t find_item(std::u16string_view key) const;

    FileSystem& m_files;
    std::vector<Entry> m_entries;
};

}  // namespace varne
