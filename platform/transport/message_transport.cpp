#include "platform/transport/message_transport.h"

namespace varne {

bool MessageTransport::closed() const
{
    std::lock_guard lock(m_state_mutex);
    return m_closed;
}

std::string MessageTransport::close_reason() const
{
    std::lock_guard lock(m_state_mutex);
    return m_close_reason;
}

MessageTransport::Clock::time_point MessageTransport::last_partial_arrival() const
{
    return Clock::time_point(Clock::duration(m_last_partial_arrival.load()));
}

bool MessageTransport::mark_closed(std::string_view reason)
{
    std::lock_guard lock(m_state_mutex);
    if (m_closed)
        return false;
    m_closed = true;
    m_close_reason = reason;
    return true;
}

void MessageTransport::note_partial_arrival()
{
    m_last_partial_arrival = Clock::now().time_since_epoch().count();
}

}  // namespace varne
