#include "records/logging.h"

#include <initializer_list>
#include <string_view>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "records/log_time.h"
#include "records/timing.h"

namespace varne {

namespace {

constexpr std::u16string_view kStopwatch = u"Logging";
constexpr std::u16string_view kHeaderText = u"Log file started at ";
constexpr std::u16string_view kStampSuffix = u":";
constexpr std::u16string_view kClosingText = u"Log file closed at ";
constexpr std::u16string_view kRunTimeText = u"Log file run time: ";
const BStr kRuleLine(96, u'=');

// The lines go to the file in one write, which the file writes whole or not at all: a full disk
// leaves the log ending with whole entries, never half of one.
void write_lines(FileWriter& file, std::initializer_list<std::u16string_view> lines)
{
    BStr text;
    for (auto line = lines.begin(); line != lines.end(); ++line)
        text.append(line == lines.begin() ? u"" : u"\r\n").append(*line);
    file.write_line(text);
}

}  // namespace

Logging::Logging(FileSystem& files, Clock& clock) : m_files(files), m_clock(clock), m_timer(make_object<Timing>(clock))
{
}

Logging::~Logging() = default;

void Logging::release_step() noexcept
{
    try {
        EndLog();
    } catch (...) {
        // The object is going away: there is no caller left to tell.
    }
}

int16_t Logging::IsOpen()
{
    return m_log_name.empty() ? kVariantFalse : kVariantTrue;
}

int16_t Logging::StartLog(const BStr& Filename)
{
    if (Filename.empty())
        return -1;
    if (IsOpen())
        return -2;
    const BStr stopwatch(kStopwatch);
    m_timer->StartTiming(stopwatch);
    m_stream = m_files.create_file(Filename);
    write_lines(*m_stream, {BStr(kHeaderText) + log_time_text(to_date(m_timer->GetStartTime(stopwatch)), m_clock),
                            kRuleLine, u""});
    m_log_name = Filename;
    return 0;
}

int16_t Logging::AppendLog(const BStr& Data)
{
    if (!IsOpen())
        return -1;
    write_lines(*m_stream, {log_time_text(m_clock.now(), m_clock) + BStr(kStampSuffix), Data, u""});
    return 0;
}

void Logging::EndLog()
{
    if (!IsOpen())
        return;
    const BStr stopwatch(kStopwatch);
    m_timer->EndTiming(stopwatch);
    write_lines(*m_stream,
                {u"", kRuleLine, BStr(kClosingText) + log_time_text(to_date(m_timer->GetEndTime(stopwatch)), m_clock),
                 BStr(kRunTimeText) + m_timer->LapsedString(stopwatch)});
    m_stream->close();
    m_stream.reset();
    m_log_name.clear();
}

BStr Logging::GetLogName()
{
    return m_log_name;
}

}  // namespace varne
