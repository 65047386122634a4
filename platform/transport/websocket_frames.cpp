#include "platform/transport/websocket_frames.h"

#include <utility>

namespace varne {

namespace {

constexpr uint8_t kFinal = 0x80;
constexpr uint8_t kMasked = 0x80;
constexpr uint8_t kReservedBits = 0x70;
constexpr uint8_t kControl = 0x08;
constexpr size_t kLongestControlPayload = 125;
constexpr uint8_t kTwoByteLength = 126;
constexpr uint8_t kEightByteLength = 127;

void append_big_endian(std::string& out, uint64_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

uint64_t read_big_endian(const uint8_t* bytes, int count)
{
    uint64_t value = 0;
    for (int index = 0; index < count; ++index)
        value = (value << 8) | bytes[index];
    return value;
}

PeerFrame broken(std::string why)
{
    return {PeerFrame::Kind::kBroken, std::move(why)};
}

}  // namespace

std::string client_frame(FrameOpcode opcode, std::string_view payload, std::array<uint8_t, 4> mask)
{
    std::string frame;
    frame.reserve(payload.size() + 14);
    frame.push_back(static_cast<char>(kFinal | static_cast<uint8_t>(opcode)));
    if (payload.size() < kTwoByteLength) {
        frame.push_back(static_cast<char>(kMasked | payload.size()));
    } else if (payload.size() <= 0xFFFF) {
        frame.push_back(static_cast<char>(kMasked | kTwoByteLength));
        append_big_endian(frame, payload.size(), 2);
    } else {
        frame.push_back(static_cast<char>(kMasked | kEightByteLength));
        append_big_endian(frame, payload.size(), 8);
    }
    frame.append(reinterpret_cast<const char*>(mask.data()), mask.size());
    const size_t start = frame.size();
    frame.append(payload);
    for (size_t index = 0; index < payload.size(); ++index)
        frame[start + index] = static_cast<char>(frame[start + index] ^ mask[index % 4]);
    return frame;
}

std::optional<PeerFrame> FrameReader::next()
{
    for (;;) {
        const size_t available = m_bytes.size() - m_consumed;
        const auto* head = reinterpret_cast<const uint8_t*>(m_bytes.data() + m_consumed);
        size_t header = 2;
        uint64_t length = available >= header ? head[1] & 0x7F : 0;
        if (length == kTwoByteLength)
            header += 2;
        else if (length == kEightByteLength)
            header += 8;
        if (available < header) {
            m_bytes.erase(0, m_consumed);
            m_consumed = 0;
            return std::nullopt;
        }
        if (header > 2)
            length = read_big_endian(head + 2, static_cast<int>(header - 2));
        const bool masked = head[1] & kMasked;
        const size_t mask_at = header;
        if (masked)
            header += 4;

        const bool final = head[0] & kFinal;
        const auto opcode = static_cast<FrameOpcode>(head[0] & 0x0F);
        const bool control = static_cast<uint8_t>(opcode) & kControl;
        if (head[0] & kReservedBits)
            return broken("a frame carries extension bits that were never agreed");
        if (control && (!final || length > kLongestControlPayload))
            return broken("a control frame is fragmented or longer than 125 bytes");
        if (!control && length > m_max_message - m_message.size())
            return broken("a message is longer than " + std::to_string(m_max_message) + " bytes");
        if (available < header || available - header < length) {
            m_bytes.erase(0, m_consumed);
            m_consumed = 0;
            return std::nullopt;
        }

        std::string payload = m_bytes.substr(m_consumed + header, length);
        if (masked) {
            for (size_t index = 0; index < payload.size(); ++index)
                payload[index] = static_cast<char>(payload[index] ^ head[mask_at + index % 4]);
        }
        m_consumed += header + length;
        switch (opcode) {
        case FrameOpcode::kPing:
            return PeerFrame{PeerFrame::Kind::kPing, std::move(payload)};
        case FrameOpcode::kPong:
            continue;
        case FrameOpcode::kClose: {
            const auto* code = reinterpret_cast<const uint8_t*>(payload.data());
            const uint16_t close_code = payload.size() >= 2 ? static_cast<uint16_t>(read_big_endian(code, 2)) : 0;
            return PeerFrame{PeerFrame::Kind::kClose, payload.size() > 2 ? payload.substr(2) : "", close_code};
        }
        case FrameOpcode::kText:
        case FrameOpcode::kBinary:
            if (m_in_message)
                return broken("a message began before the one before it ended");
            m_in_message = true;
            m_message = std::move(payload);
            break;
        case FrameOpcode::kContinuation:
            if (!m_in_message)
                return broken("a continuation frame came with no message to continue");
            m_message += payload;
            break;
        default:
            return broken("a frame has the unknown opcode " + std::to_string(static_cast<int>(opcode)));
        }
        if (final) {
            m_in_message = false;
            return PeerFrame{PeerFrame::Kind::kMessage, std::exchange(m_message, {})};
        }
    }
}

}  // namespace varne
