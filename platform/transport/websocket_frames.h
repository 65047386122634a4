#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varne {

enum class FrameOpcode : uint8_t {
    kContinuation = 0x0,
    kText = 0x1,
    kBinary = 0x2,
    kClose = 0x8,
    kPing = 0x9,
    kPong = 0xA,
};

// One whole WebSocket frame as a client sends it: final, and masked with `mask` as the protocol
// requires of a client.
std::string client_frame(FrameOpcode opcode, std::string_view payload, std::array<uint8_t, 4> mask);

// What a peer sent, read out of the bytes of a connection after its upgrade.
struct PeerFrame {
    enum class Kind {
        kMessage,  // a whole data message, its fragments joined
        kPing,  // to be answered with a pong that carries the same payload
        kClose,  // the peer ends the connection: `close_code` (0 when none was given) and the reason in `payload`
        kBroken,  // the bytes break the protocol, or a message is larger than allowed: `payload` says how
    };
    Kind kind = Kind::kMessage;
    std::string payload;
    uint16_t close_code = 0;
};

// Cuts the bytes a peer sends, taken in pieces of any size, into messages and control frames.
class FrameReader {
public:
    explicit FrameReader(size_t max_message) : m_max_message(max_message) {}

    void feed(const char* bytes, size_t size) { m_bytes.append(bytes, size); }
    // The next message or control frame, once all of it has arrived. After kBroken the stream cannot
    // be read on.
    std::optional<PeerFrame> next();
    // Whether bytes of a message that has not yet come whole are held.
    bool within_message() const { return m_consumed < m_bytes.size() || m_in_message; }

private:
    const size_t m_max_message;
    std::string m_bytes;
    size_t m_consumed = 0;
    // The fragments of a data message so far.
    std::string m_message;
    bool m_in_message = false;
};

}  // namespace varne
