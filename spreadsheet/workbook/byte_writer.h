#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace varne::workbook {

// Whether every unit is below 0x100, so the text may be stored with one byte per unit.
inline bool fits_one_byte(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x100; });
}

// Appends little-endian fields to a growing byte buffer; the file formats here are all little-endian.
class ByteWriter {
public:
    size_t size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }
    std::vector<uint8_t> take() { return std::move(m_bytes); }
    void reserve(size_t size) { m_bytes.reserve(size); }

    ByteWriter& u8(uint8_t value)
    {
        m_bytes.push_back(value);
        return *this;
    }
    ByteWriter& u16(uint16_t value) { return u8(static_cast<uint8_t>(value)).u8(static_cast<uint8_t>(value >> 8)); }
    ByteWriter& u32(uint32_t value)
    {
        return u16(static_cast<uint16_t>(value)).u16(static_cast<uint16_t>(value >> 16));
    }
    ByteWriter& u64(uint64_t value)
    {
        return u32(static_cast<uint32_t>(value)).u32(static_cast<uint32_t>(value >> 32));
    }
    ByteWriter& f64(double value) { return u64(std::bit_cast<uint64_t>(value)); }
    ByteWriter& zeros(size_t count)
    {
        m_bytes.insert(m_bytes.end(), count, 0);
        return *this;
    }
    // UTF-16 units as one byte each (all below 0x100) or as two.
    ByteWriter& units(std::u16string_view text, bool compressed)
    {
        for (char16_t unit : text) {
            if (compressed)
                u8(static_cast<uint8_t>(unit));
            else
                u16(unit);
        }
        return *this;
    }

    void patch_u16(size_t at, uint16_t value)
    {
        m_bytes[at] = static_cast<uint8_t>(value);
        m_bytes[at + 1] = static_cast<uint8_t>(value >> 8);
    }
    void patch_u32(size_t at, uint32_t value)
    {
        patch_u16(at, static_cast<uint16_t>(value));
        patch_u16(at + 2, static_cast<uint16_t>(value >> 16));
    }

private:
    std::vector<uint8_t> m_bytes;
};

}  // namespace varne::workbook
