#include "platform/firefox/firefox_engine.h"

#include "page/page_state.h"
#include "tests/support/fake_environment.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

// The engine against the installed Firefox, headless, on pages given as data: addresses.
namespace varne::bidi {
namespace {

using namespace std::chrono_literals;
using Kind = page::RemoteValue::Kind;

// A port on 127.0.0.1 that was free a moment ago, so that nothing listens there.
int closed_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class FirefoxEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access("/usr/bin/firefox-esr", X_OK) != 0)
            GTEST_SKIP() << "firefox-esr is not installed";
        m_page = FirefoxEngine(testing::environment_of(m_environment)).open_page(m_state, true);
        m_state.set_main_frame(m_page->main_frame_id());
    }

    // Loads `url` in the tab as the page model does, and waits (bounded) until it is ready.
    void load(const std::string& url)
    {
        m_state.navigation_requested(m_page->main_frame_id());
        const auto start = m_page->navigate(m_page->main_frame_id(), url);
        if (start.outcome != page::NavigationStart::Outcome::kStarted)
            m_state.navigation_refused(m_page->main_frame_id());
        for (int i = 0; i < 600 && m_state.ready_state() != 4; ++i)
            std::this_thread::sleep_for(50ms);
        ASSERT_EQ(m_state.ready_state(), 4) << url;
    }

    std::string realm() { return m_state.realm_of(m_page->main_frame_id(), 10s).value_or(""); }

    page::RemoteValue read(const page::RemoteValue& object, const std::string& property)
    {
        return *m_page->call_function(object.handle, "function(p) { return this[p]; }",
                                      {page::CallArgument::of(property)}, true, false);
    }

    const testing::Variables m_environment;  // none: a Firefox of this machine, started here
    page::PageState m_state;
    std::unique_ptr<page::PageDelegate> m_page;
};

TEST_F(FirefoxEngineTest, DrivesAPageWithFramesDialogsAndStaleObjects)
{
    load("data:text/html,<title>One</title><form name=f></form><iframe src='data:text/html,inner'></iframe>");

    const page::RemoteValue document = m_page->evaluate(realm(), "document", false);
    EXPECT_EQ(document.class_name, "HTMLDocument");
    EXPECT_EQ(read(document, "title").text, "One");
    const page::RemoteValue forms = m_page->evaluate(realm(), "document.forms", false);
    EXPECT_EQ(forms.class_name, "HTMLCollection");
    EXPECT_EQ(read(forms, "length").number, 1);
    const page::RemoteValue names = m_page->evaluate(realm(), "['a', null]", true);
    EXPECT_EQ(names.kind, Kind::StringList);

    const page::RemoteValue frame = m_page->evaluate(realm(), "document.querySelector('iframe')", false);
    const std::string frame_id = m_page->frame_of(frame.handle);
    EXPECT_EQ(m_state.child_frames(m_page->main_frame_id()), std::vector<std::string>{frame_id});

    EXPECT_FALSE(m_page->call_function(document.handle, "function() { alert('hello'); }", {}, false, true));
    ASSERT_TRUE(m_state.dialog());
    EXPECT_EQ(m_state.dialog()->message, "hello");
    EXPECT_TRUE(m_page->answer_dialog(true, ""));
    EXPECT_FALSE(m_state.dialog());

    EXPECT_EQ(m_page->screenshot().substr(0, 4), "\x89PNG");

    load("data:text/html,<title>Two</title>");
    try {
        read(document, "title");
        ADD_FAILURE() << "an object of the old document was reached";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), error_number::kObjectDisconnected);
    }
    m_page->close();
    EXPECT_EQ(m_page->connection_lost(), "it was closed");
}

TEST_F(FirefoxEngineTest, FailedAndEmptyLoadsEndWithoutWaitingForALoadEvent)
{
    const std::string refused = "http://127.0.0.1:" + std::to_string(closed_port()) + "/";
    load(refused);
    auto failures = m_state.take_load_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].url, refused);
    EXPECT_EQ(failures[0].reason, "NS_ERROR_CONNECTION_REFUSED");

    const std::string page = m_state.url_of(m_page->main_frame_id());
    load("javascript:void(document.title='changed')");
    EXPECT_EQ(m_state.url_of(m_page->main_frame_id()), page);
}

// A link's click announces its navigation only after the call's answer: the click must not
// return before the page counts as loading, or a wait after it would end at once.
TEST_F(FirefoxEngineTest, AClickOnALinkReturnsWithThePageLoading)
{
    const auto folder = std::filesystem::temp_directory_path() / ("firefox-engine-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "a.html") << "<title>A</title><a href='b.html'>next</a>";
    std::ofstream(folder / "b.html") << "<title>B</title>";
    const std::string port = std::to_string(closed_port());
    const pid_t server = ::fork();
    if (server == 0) {
        ::execl("/usr/bin/python3", "python3", "-m", "http.server", port.c_str(), "--bind", "127.0.0.1", "--directory",
                folder.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const std::string site = "http://127.0.0.1:" + port + "/";
    for (int i = 0; i < 200; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
        const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (up)
            break;
        std::this_thread::sleep_for(50ms);
    }

    load(site + "a.html");
    const page::RemoteValue link = m_page->evaluate(realm(), "document.links[0]", false);
    EXPECT_TRUE(m_page->call_function(link.handle, "function() { this.click(); }", {}, false, true));
    EXPECT_EQ(m_state.ready_state(), 1);
    for (int i = 0;
         i < 600 && (m_state.ready_state() != 4 || m_state.url_of(m_page->main_frame_id()) != site + "b.html"); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(m_state.url_of(m_page->main_frame_id()), site + "b.html");

    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace varne::bidi
