#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace varne {

// The receiving side of a NUL-framed byte stream: bytes are read into free_space(), counted in
// by filled(), and handed out as whole messages, each without its NUL. Each byte is searched for
// the NUL once, however many reads its message takes.
class NulFramedBuffer {
public:
    NulFramedBuffer();

    // The next whole message, or nothing until its NUL has arrived.
    std::optional<std::string> take_message();
    // Room for the next read, at least one read's worth; moves or grows the buffer as needed.
    std::span<char> free_space();
    // Counts `count` bytes just read into free_space() as received.
    void filled(size_t count) { m_size += count; }
    // Whether part of a message has arrived without its end.
    bool holds_partial_message() const { return m_size > m_begin; }

private:
    // Bytes [m_begin, m_size) are unconsumed, and [m_begin, m_scanned) hold no NUL.
    std::unique_ptr<char[]> m_buffer;
    size_t m_capacity = 0;
    size_t m_size = 0;
    size_t m_begin = 0;
    size_t m_scanned = 0;
};

}  // namespace varne
