#include "records/logging.h"

#include "frame/class_factories.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/services.h"
#include "records/log_time.h"

namespace varne {

namespace {

constexpr std::u16string_view kStopwatch = u"Logging";
constexpr std::u16string_view kHeaderText = u"Log file started at ";
constexpr std::u16string_view kStampSuffix = u":";
constexpr std::u16string_view kClosingText = u"Log file closed at ";
constexpr std::u16string_view kRunTimeText = u"Log file run time: ";
const BStr kRuleLine(96, u'=');

}  // namespace

Ref<Dispatch> create_logging()
{
    return make_object<Logging>();
}

Logging::Logging()
    : m_files(*services().files), m_clock(*services().clock), m_timer(create_library_object<_Timing>(u"Varne.Timing"))
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
    m_stream->write_line(BStr(kHeaderText) + log_time_text(to_date(m_timer->GetStartTime(stopwatch))));
    m_stream->write_line(kRuleLine);
    m_stream->write_line(u"");
    m_log_name = Filename;
    return 0;
}

int16_t Logging::AppendLog(const BStr& Data)
{
    if (!IsOpen())
        return -1;
    m_stream->write_line(log_time_text(m_clock.now()) + BStr(kStampSuffix));
    m_stream->write_line(Data);
    m_stream->write_line(u"");
    return 0;
}

void Logging::EndLog()
{
    if (!IsOpen())
        return;
    const BStr stopwatch(kStopwatch);
    m_timer->EndTiming(stopwatch);
    m_stream->write_line(u"");
    m_stream->write_line(kRuleLine);
    m_stream->write_line(BStr(kClosingText) + log_time_text(to_date(m_timer->GetEndTime(stopwatch))));
    m_stream->write_line(BStr(kRunTimeText) + m_timer->LapsedString(stopwatch));
    m_stream->close();
    m_stream.reset();
    m_log_name.clear();
}

BStr Logging::GetLogName()
{
    return m_log_name;
}

}  // namespace varne
