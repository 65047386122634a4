#include "settings/config.h"

#include <cstdint>
#include <limits>

#include "frame/automation_error.h"
#include "platform/file_system.h"

namespace varne {

namespace {

constexpr int64_t kLastPosition = std::numeric_limits<int16_t>::max();

// The step of a 16-bit counting loop: going past the last position is the overflow error,
// even when the loop would have ended there.
int32_t next_position(int32_t position)
{
    if (position + 1 > kLastPosition)
        throw AutomationError::overflow();
    return position + 1;
}

}  // namespace

Config::Config(FileSystem& files) : m_files(files) {}

int16_t Config::find_item(std::u16string_view key) const
{
    const auto count = static_cast<int32_t>(m_entries.size());
    for (int32_t position = 0; position < count; position = next_position(position)) {
        if (equals_ignoring_case(m_entries[static_cast<size_t>(position)].key, key))
            return static_cast<int16_t>(position);
    }
    return -1;
}

void Config::SetItem(const BStr& Key, const BStr& Value)
{
    int16_t position = find_item(Key);
    if (position < 0)
        m_entries.push_back({to_upper(Key), Value});
    else
        m_entries[static_cast<size_t>(position)].value = Value;
}

BStr Config::GetItem(const BStr& Key)
{
    int16_t position = find_item(Key);
    return position < 0 ? BStr() : m_entries[static_cast<size_t>(position)].value;
}

void Config::UnSetItem(const BStr& Key)
{
    int16_t position = find_item(Key);
    if (position >= 0)
        m_entries[static_cast<size_t>(position)].key.clear();
}

void Config::RemoveAll()
{
    m_entries.clear();
}

int16_t Config::Load(const BStr& Filename)
{
    RemoveAll();
    if (Filename.empty() || !m_files.file_exists(Filename))
        return -1;
    const BStr text = m_files.read_all_text(Filename);
    // Positions count characters from 1. A last line of one character is never read.
    int64_t position = 1;
    const auto length = static_cast<int64_t>(text.size());
    while (position < length) {
        auto found = text.find(u"\r\n", static_cast<size_t>(position - 1));
        int64_t line_end = found == BStr::npos ? length + 1 : static_cast<int64_t>(found) + 1;
        // The next line starts two characters on, and that start must still be a 16-bit position.
        if (line_end + 2 > kLastPosition)
            throw AutomationError::overflow();
        auto line = trim_spaces(std::u16string_view(text).substr(static_cast<size_t>(position - 1),
                                                                 static_cast<size_t>(line_end - position)));
        position = line_end + 2;
        if (line.empty() || line.front() == u'#')
            continue;
        auto equals = line.find(u'=');
        if (equals == std::u16string_view::npos)
            continue;
        SetItem(BStr(trim_spaces(line.substr(0, equals))), BStr(line.substr(equals + 1)));
    }
    return 0;
}

Variant Config::Save(const BStr& Filename)
{
    if (Filename.empty())
        return int16_t(-1);
    auto file = m_files.replace_file(Filename);
    const auto count = static_cast<int32_t>(m_entries.size());
    for (int32_t position = 0; position < count; position = next_position(position)) {
        const auto& entry = m_entries[static_cast<size_t>(position)];
        file->write_line(to_upper(entry.key) + u"=" + entry.value);
    }
    file->close();
    return {};
}

}  // namespace varne
