#include "platform/transport/websocket_transport.h"
#include "platform/transport/websocket_frames.h"

#include "platform/chromium/protocol_session.h"
#include "tests/support/automation_errors.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <thread>

namespace varne {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;
using varne::testing::raised;
using SendResult = MessageTransport::SendResult;
using Request = http::request<http::string_body>;

MessageTransport::Clock::time_point in(std::chrono::milliseconds span)
{
    return MessageTransport::Clock::now() + span;
}

// One connection's far end on 127.0.0.1, run by `handler` in a thread of its own: a stand-in for a
// browser's debugging server or a Grid. `finished` becomes ready when the test is over.
class Peer {
public:
    using Handler = std::function<void(tcp::socket& socket, std::shared_future<void> finished)>;

    explicit Peer(Handler handler)
        : m_acceptor(m_io, {net::ip::make_address("127.0.0.1"), 0}), m_finished(m_done.get_future().share())
    {
        m_thread = std::thread([this, handler] {
            tcp::socket socket(m_io);
            beast::error_code error;
            m_acceptor.accept(socket, error);
            try {
                if (!error && !m_stopping)
                    handler(socket, m_finished);
            } catch (const std::exception&) {
                // The transport ended the connection first.
            }
        });
    }

    ~Peer()
    {
        m_stopping = true;
        m_done.set_value();
        beast::error_code ignored;
        tcp::socket wake(m_io);
        wake.connect(m_acceptor.local_endpoint(), ignored);  // ends an accept still waiting
        m_thread.join();
    }

    WebAddress address(std::string scheme, std::string path = "/devtools/browser/1") const
    {
        return {std::move(scheme), "", "", "127.0.0.1", m_acceptor.local_endpoint().port(), std::move(path)};
    }

private:
    net::io_context m_io;
    tcp::acceptor m_acceptor;
    std::promise<void> m_done;
    std::shared_future<void> m_finished;
    std::atomic<bool> m_stopping = false;
    std::thread m_thread;
};

// Reads the upgrade request into `request` and accepts it.
websocket::stream<tcp::socket> accept_upgrade(tcp::socket& socket, Request& request)
{
    beast::flat_buffer buffer;
    http::read(socket, buffer, request);
    websocket::stream<tcp::socket> stream(std::move(socket));
    stream.accept(request);
    return stream;
}

void echo(websocket::stream<tcp::socket>& stream)
{
    stream.read_message_max(size_t{64} << 20);
    for (;;) {
        beast::flat_buffer message;
        stream.read(message);
        stream.text(true);
        stream.write(message.data());
    }
}

TEST(WebSocketTransportTest, MessagesGoBothWaysWholeAndTheUpgradeCarriesNoOrigin)
{
    Request seen;
    std::promise<void> upgraded;
    Peer peer([&](tcp::socket& socket, std::shared_future<void>) {
        auto stream = accept_upgrade(socket, seen);
        upgraded.set_value();
        echo(stream);
    });
    auto transport =
        WebSocketTransport::connect(peer.address("ws"), {{"X-Team", "shop"}}, HostHeader::kAsGiven, in(5s));
    upgraded.get_future().wait();
    EXPECT_EQ(seen.target(), "/devtools/browser/1");
    EXPECT_EQ(seen[http::field::host], "127.0.0.1:" + std::to_string(peer.address("ws").port));
    EXPECT_EQ(seen["X-Team"], "shop");
    EXPECT_EQ(seen.count(http::field::origin), 0u);

    const std::string large = std::string(3 << 20, 'x') + "\xc3\xa9";  // past one frame and one read, UTF-8 at the end
    for (const std::string& message : {std::string(R"({"id":1,"method":"Browser.getVersion"})"), large}) {
        ASSERT_EQ(transport->send(message, in(5s)), SendResult::kSent);
        EXPECT_EQ(transport->receive(in(5s)), message);
    }
    EXPECT_EQ(transport->receive(in(50ms)), std::nullopt);
    EXPECT_FALSE(transport->closed());
}

TEST(WebSocketTransportTest, FragmentedMessagesArriveWholeAndPingsAreAnswered)
{
    std::promise<std::string> pong;
    Peer peer([&](tcp::socket& socket, std::shared_future<void> finished) {
        Request request;
        auto stream = accept_upgrade(socket, request);
        stream.control_callback([&](websocket::frame_type kind, beast::string_view payload) {
            if (kind == websocket::frame_type::pong)
                pong.set_value(std::string(payload));
        });
        stream.ping("are you there");
        stream.text(true);
        stream.write_some(false, net::buffer(std::string(R"({"id":1,)")));
        stream.write_some(false, net::buffer(std::string(200000, ' ')));
        stream.write_some(true, net::buffer(std::string(R"("result":{}})")));
        beast::flat_buffer reply;
        stream.read(reply);  // the pong comes before it
        finished.wait();
    });
    auto transport = WebSocketTransport::connect(peer.address("ws"), {}, HostHeader::kAsGiven, in(5s));
    EXPECT_EQ(transport->receive(in(5s)), R"({"id":1,)" + std::string(200000, ' ') + R"("result":{}})");
    ASSERT_EQ(transport->send("{}", in(5s)), SendResult::kSent);
    auto answered = pong.get_future();
    ASSERT_EQ(answered.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(answered.get(), "are you there");
}

TEST(WebSocketFramesTest, FramesOfEveryLengthFormReadBackWholeFromAnyCut)
{
    for (size_t length : {size_t{0}, size_t{125}, size_t{126}, size_t{65535}, size_t{65536}}) {
        std::string payload(length, 'a');
        for (size_t index = 0; index < length; ++index)
            payload[index] = static_cast<char>(index * 7);
        const std::string frame = client_frame(FrameOpcode::kText, payload, {0x12, 0x34, 0x56, 0x78});
        FrameReader reader(1 << 20);
        for (size_t index = 0; index + 1 < frame.size(); ++index) {
            reader.feed(&frame[index], 1);
            ASSERT_FALSE(reader.next().has_value()) << "length " << length << ", byte " << index;
            EXPECT_TRUE(reader.within_message());
        }
        reader.feed(&frame.back(), 1);
        const auto read = reader.next();
        ASSERT_TRUE(read) << "length " << length;
        EXPECT_EQ(read->kind, PeerFrame::Kind::kMessage);
        EXPECT_EQ(read->payload, payload) << "length " << length;
        EXPECT_FALSE(reader.within_message());
    }
}

TEST(WebSocketFramesTest, BytesThatBreakTheProtocolAreNamed)
{
    const auto first = [](std::string bytes, size_t max_message = 1 << 20) {
        FrameReader reader(max_message);
        reader.feed(bytes.data(), bytes.size());
        return reader.next();
    };
    using namespace std::string_literals;
    EXPECT_EQ(first("\x80\x01x")->payload, "a continuation frame came with no message to continue");
    EXPECT_EQ(first("\x01\x01x\x81\x01y")->payload, "a message began before the one before it ended");
    EXPECT_EQ(first("\x81\x05hello", 4)->payload, "a message is longer than 4 bytes");
    EXPECT_EQ(first("\x09\x00"s)->payload, "a control frame is fragmented or longer than 125 bytes");
    const auto close = first("\x88\x05\x03\xe9"s + "bye");
    EXPECT_EQ(close->kind, PeerFrame::Kind::kClose);
    EXPECT_EQ(close->close_code, 1001);
    EXPECT_EQ(close->payload, "bye");
}

TEST(WebSocketTransportTest, APeerThatEndsTheConnectionFailsLaterCallsAtOnce)
{
    Peer peer([](tcp::socket& socket, std::shared_future<void>) {
        Request request;
        auto stream = accept_upgrade(socket, request);
        stream.text(true);
        stream.write(net::buffer(std::string("last words")));
        stream.close(websocket::close_reason(websocket::close_code::going_away, "bye"));
    });
    auto transport = WebSocketTransport::connect(peer.address("ws"), {}, HostHeader::kAsGiven, in(5s));
    EXPECT_EQ(transport->receive(in(5s)), "last words");  // what came before the end is still handed out
    const auto started = MessageTransport::Clock::now();
    EXPECT_EQ(transport->receive(in(5s)), std::nullopt);
    EXPECT_LT(MessageTransport::Clock::now() - started, 4s);
    EXPECT_TRUE(transport->closed());
    EXPECT_EQ(transport->close_reason(), "the peer closed the WebSocket (code 1001, bye)");
    EXPECT_EQ(transport->send("{}", in(5s)), SendResult::kClosed);
}

TEST(WebSocketTransportTest, CloseWakesAWaitingReceiveAndKeepsTheFirstReason)
{
    Peer peer([](tcp::socket& socket, std::shared_future<void> finished) {
        Request request;
        auto stream = accept_upgrade(socket, request);
        finished.wait();
    });
    auto transport = WebSocketTransport::connect(peer.address("ws"), {}, HostHeader::kAsGiven, in(5s));
    std::thread closer([&] {
        std::this_thread::sleep_for(100ms);
        transport->close("stopped by the test");
    });
    EXPECT_EQ(transport->receive(in(10s)), std::nullopt);
    closer.join();
    transport->close("a later reason");
    EXPECT_EQ(transport->close_reason(), "stopped by the test");
}

TEST(WebSocketTransportTest, AMessageThePeerDoesNotTakeInTimeClosesTheTransport)
{
    Peer peer([](tcp::socket& socket, std::shared_future<void> finished) {
        Request request;
        auto stream = accept_upgrade(socket, request);
        finished.wait();  // reads nothing more
    });
    auto transport = WebSocketTransport::connect(peer.address("ws"), {}, HostHeader::kAsGiven, in(5s));
    EXPECT_EQ(transport->send(std::string(size_t{64} << 20, 'x'), in(300ms)), SendResult::kTimedOut);
    EXPECT_TRUE(transport->closed());
    EXPECT_EQ(transport->close_reason(), "a message was not taken within its time limit");
    EXPECT_EQ(transport->send("{}", in(1s)), SendResult::kClosed);
}

TEST(WebSocketTransportTest, AddressesThatCannotBeReachedAreNamed)
{
    WebAddress closed_port;
    {
        Peer gone([](tcp::socket&, std::shared_future<void>) {});
        closed_port = gone.address("ws", "/x");
    }
    auto error = raised([&] { WebSocketTransport::connect(closed_port, {}, HostHeader::kAsGiven, in(5s)); });
    EXPECT_EQ(error.number(), error_number::kServerUnavailable);
    EXPECT_EQ(error.description(), "Cannot reach " + closed_port.text() + ": Connection refused");

    Peer refusing([](tcp::socket& socket, std::shared_future<void>) {
        Request request;
        beast::flat_buffer buffer;
        http::read(socket, buffer, request);
        http::response<http::string_body> answer(http::status::forbidden, 11);
        answer.body() = "Rejected an incoming WebSocket connection";
        answer.prepare_payload();
        http::write(socket, answer);
    });
    error = raised([&] { WebSocketTransport::connect(refusing.address("ws"), {}, HostHeader::kAsGiven, in(5s)); });
    EXPECT_EQ(error.description(), "Cannot reach " + refusing.address("ws").text() +
                                       ": it refused the WebSocket upgrade with HTTP 403: Rejected an incoming "
                                       "WebSocket connection");
}

TEST(WebSocketTransportTest, HttpExchangeSendsTheRequestAndIsBounded)
{
    Request seen;
    Peer answering([&](tcp::socket& socket, std::shared_future<void>) {
        beast::flat_buffer buffer;
        http::read(socket, buffer, seen);
        http::response<http::string_body> answer(http::status::created, 11);
        answer.body() = R"({"value":{}})";
        answer.prepare_payload();
        http::write(socket, answer);
    });
    const auto answer = http_exchange("POST", answering.address("http", ""), "/session",
                                      {{"Content-Type", "application/json; charset=utf-8"}}, std::string("{}"),
                                      HostHeader::kResolvedAddress, 2s, in(5s));
    EXPECT_EQ(answer.status, 201);
    EXPECT_EQ(answer.body, R"({"value":{}})");
    EXPECT_EQ(seen.method(), http::verb::post);
    EXPECT_EQ(seen.target(), "/session");
    EXPECT_EQ(seen[http::field::content_type], "application/json; charset=utf-8");
    EXPECT_EQ(seen.body(), "{}");

    Peer silent([](tcp::socket&, std::shared_future<void> finished) { finished.wait(); });
    const auto error = raised([&] {
        http_exchange("GET", silent.address("http", ""), "/status", {}, std::nullopt, HostHeader::kAsGiven, 2s,
                      in(300ms));
    });
    EXPECT_EQ(error.number(), error_number::kServerUnavailable);
    EXPECT_EQ(error.description().rfind("Cannot reach " + silent.address("http", "").text() + ": no answer within ", 0),
              0u);
}

TEST(WebSocketTransportTest, AProtocolSessionOverItFailsPendingCallsWhenThePeerGoes)
{
    Peer peer([](tcp::socket& socket, std::shared_future<void>) {
        Request request;
        auto stream = accept_upgrade(socket, request);
        beast::flat_buffer first;
        stream.read(first);
        const auto command = nlohmann::json::parse(beast::buffers_to_string(first.data()));
        stream.text(true);
        stream.write(net::buffer(nlohmann::json{{"id", command["id"]}, {"result", {{"product", "Test"}}}}.dump()));
        beast::flat_buffer second;
        stream.read(second);  // left unanswered: the connection ends instead
    });
    cdp::ProtocolSession session(WebSocketTransport::connect(peer.address("ws"), {}, HostHeader::kAsGiven, in(5s)));
    EXPECT_EQ(session.send("Browser.getVersion")["product"], "Test");
    const auto started = MessageTransport::Clock::now();
    const auto error = raised([&] { session.send("Runtime.evaluate", {}, {}, 20000ms); });
    EXPECT_LT(MessageTransport::Clock::now() - started, 5s);
    EXPECT_EQ(error.description(),
              "The connection to Chromium closed before it answered Runtime.evaluate: the peer ended the connection");
}

}  // namespace
}  // namespace varne
