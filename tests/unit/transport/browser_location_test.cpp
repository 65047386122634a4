#include "platform/transport/browser_location.h"

#include "tests/support/automation_errors.h"
#include "tests/support/fake_environment.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace varne {
namespace {

using varne::testing::raised;
using Kind = BrowserLocation::Kind;

const AttachVariable kRunningChromium{"VARNE_CDP_URL", {"ws", "http"}, "ws://host:port/devtools/browser/<id>"};
const AttachVariable kRunningFirefox{"VARNE_BIDI_URL", {"ws"}, ""};

BrowserLocation location_of(const std::map<std::string, std::string>& environment,
                            const AttachVariable& attach = kRunningChromium)
{
    return browser_location(testing::environment_of(environment), attach);
}

std::string refusal(const std::map<std::string, std::string>& environment,
                    const AttachVariable& attach = kRunningChromium)
{
    const AutomationError error = raised([&] { location_of(environment, attach); });
    EXPECT_EQ(error.number(), error_number::kInvalidProcedureCall);
    return error.description();
}

TEST(BrowserLocationTest, NothingSetOrEmptyIsTheLocalBrowser)
{
    EXPECT_EQ(location_of({}).kind, Kind::kLocal);
    EXPECT_EQ(location_of({{"VARNE_REMOTE_URL", ""}, {"VARNE_CDP_URL", ""}}).kind, Kind::kLocal);
}

TEST(BrowserLocationTest, GridAddressWithCredentialsPathAndRefinements)
{
    const auto location = location_of({{"VARNE_REMOTE_URL", "HTTP://ann:p%40ss:w@grid.example:4444/wd/hub/"},
                                       {"VARNE_REMOTE_CAPABILITIES", R"({"platformName":"linux"})"},
                                       {"VARNE_REMOTE_HEADERS", R"({"X-Team":"shop"})"},
                                       {"VARNE_REMOTE_QUEUE_TIMEOUT", "45"}});
    EXPECT_EQ(location.kind, Kind::kGrid);
    EXPECT_EQ(location.address.user, "ann");
    EXPECT_EQ(location.address.password, "p@ss:w");
    EXPECT_EQ(location.address.text(), "http://grid.example:4444/wd/hub");
    EXPECT_EQ(location.capabilities, nlohmann::json::parse(R"({"platformName":"linux"})"));
    EXPECT_EQ(location.headers, (HttpHeaders{{"X-Team", "shop"}}));
    EXPECT_EQ(location.queue_timeout, std::chrono::seconds(45));

    const auto plain = location_of({{"VARNE_REMOTE_URL", "http://[::1]"}});
    EXPECT_EQ(plain.address.host, "::1");
    EXPECT_EQ(plain.address.origin(), "http://[::1]:80");
    EXPECT_EQ(plain.queue_timeout, BrowserLocation::kDefaultQueueTimeout);
    EXPECT_TRUE(plain.capabilities.is_object() && plain.capabilities.empty());
}

TEST(BrowserLocationTest, RunningChromiumByBrowserSocketOrDebuggingPort)
{
    const auto socket = location_of({{"VARNE_CDP_URL", "ws://127.0.0.1:9222/devtools/browser/ab-12"}});
    EXPECT_EQ(socket.kind, Kind::kAttached);
    EXPECT_EQ(socket.address.path, "/devtools/browser/ab-12");
    EXPECT_EQ(location_of({{"VARNE_CDP_URL", "http://localhost:9222"}}).address.text(), "http://localhost:9222");
}

TEST(BrowserLocationTest, EachEngineReadsItsOwnAttachVariable)
{
    const auto firefox = location_of({{"VARNE_BIDI_URL", "ws://127.0.0.1:9222"}}, kRunningFirefox);
    EXPECT_EQ(firefox.kind, Kind::kAttached);
    EXPECT_EQ(firefox.address.text(), "ws://127.0.0.1:9222");
    EXPECT_EQ(location_of({{"VARNE_CDP_URL", "ws://127.0.0.1:9222/devtools/browser/x"}}, kRunningFirefox).kind,
              Kind::kLocal);
    EXPECT_EQ(refusal({{"VARNE_BIDI_URL", "http://127.0.0.1:9222"}}, kRunningFirefox),
              "VARNE_BIDI_URL is not usable: \"http://127.0.0.1:9222\" does not start with ws://");
    EXPECT_EQ(
        refusal({{"VARNE_BIDI_URL", "ws://127.0.0.1:9222"}, {"VARNE_REMOTE_URL", "http://grid:4444"}}, kRunningFirefox),
        "VARNE_BIDI_URL is not usable: it is set together with VARNE_REMOTE_URL; set only one of them");
}

TEST(BrowserLocationTest, MalformedValuesNameTheVariableAndTheFault)
{
    EXPECT_EQ(refusal({{"VARNE_REMOTE_URL", "grid:4444"}}),
              "VARNE_REMOTE_URL is not usable: \"grid:4444\" is not an address starting with http://");
    EXPECT_EQ(refusal({{"VARNE_REMOTE_URL", "https://grid:4444"}}),
              "VARNE_REMOTE_URL is not usable: \"https://grid:4444\" does not start with http://");
    EXPECT_EQ(refusal({{"VARNE_REMOTE_URL", "http://grid:99999"}}),
              "VARNE_REMOTE_URL is not usable: \"http://grid:99999\" has no port number from 1 to 65535 after the "
              "host's ':'");
    EXPECT_EQ(refusal({{"VARNE_REMOTE_URL", "http://:4444"}}),
              "VARNE_REMOTE_URL is not usable: \"http://:4444\" names no host");
    EXPECT_EQ(refusal({{"VARNE_REMOTE_URL", "http://a%zz@grid"}}),
              "VARNE_REMOTE_URL is not usable: the credentials hold a '%' that is not followed by two hexadecimal "
              "digits");
    const std::map<std::string, std::string> grid{{"VARNE_REMOTE_URL", "http://grid:4444"}};
    auto with = [&grid](const char* name, const char* value) {
        auto environment = grid;
        environment[name] = value;
        return refusal(environment);
    };
    EXPECT_EQ(with("VARNE_REMOTE_CAPABILITIES", "{browserName: chrome}"),
              "VARNE_REMOTE_CAPABILITIES is not usable: it is not valid JSON");
    EXPECT_EQ(with("VARNE_REMOTE_CAPABILITIES", "[1]"),
              "VARNE_REMOTE_CAPABILITIES is not usable: it must be a JSON object ({...}), not array");
    EXPECT_EQ(with("VARNE_REMOTE_HEADERS", R"({"X-Count": 3})"),
              "VARNE_REMOTE_HEADERS is not usable: the value of header \"X-Count\" must be a string");
    EXPECT_EQ(with("VARNE_REMOTE_HEADERS", R"({"Bad Name": "x"})"),
              "VARNE_REMOTE_HEADERS is not usable: \"Bad Name\" is not a header name");
    EXPECT_EQ(with("VARNE_REMOTE_HEADERS", "{\"X-A\": \"1\\r\\nX-B: 2\"}"),
              "VARNE_REMOTE_HEADERS is not usable: the value of header \"X-A\" holds a line break");
    EXPECT_EQ(with("VARNE_REMOTE_QUEUE_TIMEOUT", "0"),
              "VARNE_REMOTE_QUEUE_TIMEOUT is not usable: \"0\" is not a whole number of seconds from 1 to 86400");
    EXPECT_EQ(with("VARNE_REMOTE_QUEUE_TIMEOUT", "10s"),
              "VARNE_REMOTE_QUEUE_TIMEOUT is not usable: \"10s\" is not a whole number of seconds from 1 to 86400");
    EXPECT_EQ(with("VARNE_CDP_URL", "ws://127.0.0.1:9222/devtools/browser/x"),
              "VARNE_CDP_URL is not usable: it is set together with VARNE_REMOTE_URL; set only one of them");
    EXPECT_EQ(refusal({{"VARNE_CDP_URL", "ws://127.0.0.1:9222"}}),
              "VARNE_CDP_URL is not usable: \"ws://127.0.0.1:9222\" has no path; the browser's address looks like "
              "ws://host:port/devtools/browser/<id>");
    EXPECT_EQ(refusal({{"VARNE_CDP_URL", "wss://127.0.0.1:9222/devtools/browser/x"}}),
              "VARNE_CDP_URL is not usable: \"wss://127.0.0.1:9222/devtools/browser/x\" does not start with ws:// or "
              "http://");
}

TEST(BrowserLocationTest, BasicAuthorizationEncodesUserAndPassword)
{
    EXPECT_EQ(basic_authorization("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(basic_authorization("a", ""), "Basic YTo=");
}

}  // namespace
}  // namespace varne
