#include "spreadsheet/workbook/shared_strings.h"

#include "spreadsheet/workbook/biff8_records.h"

#include <algorithm>

namespace varne::workbook {

namespace {

constexpr uint32_t kMaxBuckets = 128;
constexpr uint32_t kMinStringsPerBucket = 8;

// Writes records of at most 8224 body bytes, starting a CONTINUE record when one is full.
class ContinuedRecord {
public:
    ContinuedRecord(ByteWriter& out, uint16_t id) : m_out(out) { open(id); }
    ~ContinuedRecord() { close(); }

    size_t room() const { return kMaxRecordBody - (m_out.size() - m_body_start); }
    size_t offset_in_record() const { return m_out.size() - m_body_start + kRecordHeader; }
    void next()
    {
        close();
        open(kContinue);
    }

private:
    void open(uint16_t id) { m_body_start = begin_record(m_out, id); }
    void close() { end_record(m_out, m_body_start); }

    ByteWriter& m_out;
    size_t m_body_start = 0;
};

}  // namespace

uint32_t SharedStrings::use(std::u16string_view text)
{
    ++m_uses;
    auto [at, added] = m_index.try_emplace(text, static_cast<uint32_t>(m_texts.size()));
    if (added)
        m_texts.push_back(text);
    return at->second;
}

uint32_t SharedStrings::use(std::u16string&& text)
{
    if (auto at = m_index.find(text); at != m_index.end()) {
        ++m_uses;
        return at->second;
    }
    return use(std::u16string_view(m_owned.emplace_back(std::move(text))));
}

void SharedStrings::write(ByteWriter& out) const
{
    const uint32_t per_bucket = std::max(kMinStringsPerBucket, (unique_count() + kMaxBuckets - 1) / kMaxBuckets);
    struct Bucket {
        uint32_t stream_position;
        uint16_t offset_in_record;
    };
    std::vector<Bucket> buckets;
    {
        ContinuedRecord record(out, kSst);
        out.u32(m_uses).u32(unique_count());
        for (uint32_t index = 0; index < m_texts.size(); ++index) {
            std::u16string_view text = m_texts[index];
            const bool compressed = fits_one_byte(text);
            const size_t unit_size = compressed ? 1 : 2;
            const uint8_t flags = compressed ? 0x00 : 0x01;
            // The header (count and flags) never splits and keeps at least one character with it.
            if (record.room() < 3 + unit_size)
                record.next();
            if (index % per_bucket == 0)
                buckets.push_back(
                    {static_cast<uint32_t>(out.size()), static_cast<uint16_t>(record.offset_in_record())});
            out.u16(static_cast<uint16_t>(text.size())).u8(flags);
            while (!text.empty()) {
                size_t units = std::min(text.size(), record.room() / unit_size);
                if (units == 0) {
                    // A string that goes on in the next record repeats its flags byte there.
                    record.next();
                    out.u8(flags);
                    continue;
                }
                out.units(text.substr(0, units), compressed);
                text.remove_prefix(units);
            }
        }
    }
    out.u16(kExtSst).u16(static_cast<uint16_t>(2 + buckets.size() * 8)).u16(static_cast<uint16_t>(per_bucket));
    for (const Bucket& bucket : buckets)
        out.u32(bucket.stream_position).u16(bucket.offset_in_record).u16(0);
}

}  // namespace varne::workbook
