#pragma once

#include "platform/transport/message_transport.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace varne {

// An in-memory connection: the session under test holds the transport, the test holds its peer and
// plays the browser, reading what the session sent and writing what the browser would answer.
class ScriptedWire {
public:
    using Clock = MessageTransport::Clock;

    // The next message the session sent, or none by the deadline or once the session closed.
    std::optional<std::string> next_sent(Clock::time_point deadline)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_until(lock, deadline, [&] { return !m_sent.empty() || m_closed; });
        if (m_sent.empty())
            return std::nullopt;
        std::string text = std::move(m_sent.front());
        m_sent.pop_front();
        return text;
    }

    void deliver(std::string text)
    {
        std::lock_guard lock(m_mutex);
        m_inbox.push_back(std::move(text));
        m_changed.notify_all();
    }

    // The browser ends the connection; what it wrote before is still delivered.
    void hang_up(std::string_view reason) { close(reason); }

    bool closed() const
    {
        std::lock_guard lock(m_mutex);
        return m_closed;
    }

private:
    friend class ScriptedTransport;

    void close(std::string_view reason)
    {
        std::lock_guard lock(m_mutex);
        if (!m_closed)
            m_reason = reason;
        m_closed = true;
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_sent;
    std::deque<std::string> m_inbox;
    bool m_closed = false;
    std::string m_reason;
};

// The session's end of a ScriptedWire.
class ScriptedTransport final : public MessageTransport {
public:
    explicit ScriptedTransport(std::shared_ptr<ScriptedWire> wire) : m_wire(std::move(wire)) {}

    SendResult send(std::string_view message, Clock::time_point) override
    {
        std::lock_guard lock(m_wire->m_mutex);
        if (m_wire->m_closed)
            return SendResult::kClosed;
        m_wire->m_sent.emplace_back(message);
        m_wire->m_changed.notify_all();
        return SendResult::kSent;
    }

    std::optional<std::string> receive(Clock::time_point deadline) override
    {
        std::unique_lock lock(m_wire->m_mutex);
        const auto ready = [&] { return !m_wire->m_inbox.empty() || m_wire->m_closed; };
        if (deadline == Clock::time_point::max())
            m_wire->m_changed.wait(lock, ready);
        else
            m_wire->m_changed.wait_until(lock, deadline, ready);
        if (m_wire->m_inbox.empty())
            return std::nullopt;
        std::string text = std::move(m_wire->m_inbox.front());
        m_wire->m_inbox.pop_front();
        return text;
    }

    void close(std::string_view reason) override { m_wire->close(reason); }
    bool closed() const override { return m_wire->closed(); }
    std::string close_reason() const override
    {
        std::lock_guard lock(m_wire->m_mutex);
        return m_wire->m_reason;
    }

private:
    std::shared_ptr<ScriptedWire> m_wire;
};

}  // namespace varne
