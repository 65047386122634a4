#include "platform/transport/nul_framed_buffer.h"

#include <algorithm>
#include <cstring>

namespace varne {

namespace {

constexpr size_t kInitialCapacity = 256 * 1024;
constexpr size_t kMinReadSize = 64 * 1024;
// A buffer that grew for one huge message is given back once it is empty again.
constexpr size_t kKeepCapacity = 4 * 1024 * 1024;

}  // namespace

NulFramedBuffer::NulFramedBuffer() : m_buffer(new char[kInitialCapacity]), m_capacity(kInitialCapacity) {}

std::optional<std::string> NulFramedBuffer::take_message()
{
    char* const data = m_buffer.get();
    const auto* terminator = static_cast<const char*>(std::memchr(data + m_scanned, '\0', m_size - m_scanned));
    if (terminator == nullptr) {
        m_scanned = m_size;
        return std::nullopt;
    }
    const size_t end = static_cast<size_t>(terminator - data);
    std::string message(data + m_begin, end - m_begin);
    m_begin = end + 1;
    m_scanned = m_begin;
    if (m_begin == m_size) {
        m_begin = m_scanned = m_size = 0;
        if (m_capacity > kKeepCapacity) {
            m_buffer.reset(new char[kInitialCapacity]);
            m_capacity = kInitialCapacity;
        }
    }
    return message;
}

std::span<char> NulFramedBuffer::free_space()
{
    if (m_capacity - m_size < kMinReadSize) {
        const size_t pending = m_size - m_begin;
        if (m_capacity - pending >= 2 * kMinReadSize) {
            std::memmove(m_buffer.get(), m_buffer.get() + m_begin, pending);
        } else {
            m_capacity = std::max(2 * m_capacity, pending + kMinReadSize);
            std::unique_ptr<char[]> larger(new char[m_capacity]);
            std::memcpy(larger.get(), m_buffer.get() + m_begin, pending);
            m_buffer = std::move(larger);
        }
        m_scanned -= m_begin;
        m_begin = 0;
        m_size = pending;
    }
    return {m_buffer.get() + m_size, m_capacity - m_size};
}

}  // namespace varne
