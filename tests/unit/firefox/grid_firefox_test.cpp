#include "platform/firefox/grid_firefox.h"

#include <gtest/gtest.h>

namespace varne::bidi {
namespace {

using Json = nlohmann::json;

TEST(GridFirefoxTest, CapabilitiesAskForFirefoxWithTheProfilePrefsAndABidiSocket)
{
    const Json capabilities = grid_firefox_capabilities(Json::object());
    EXPECT_EQ(capabilities["browserName"], "firefox");
    EXPECT_EQ(capabilities["webSocketUrl"], true);
    EXPECT_EQ(capabilities["unhandledPromptBehavior"], "ignore");
    EXPECT_EQ(capabilities["moz:firefoxOptions"]["prefs"]["remote.retry-on-abort"], false);
}

TEST(GridFirefoxTest, TheUsersCapabilitiesWinExceptForTheSocketAndTheDialogs)
{
    const Json wanted = Json::parse(R"({"browserName": "chrome", "moz:firefoxOptions": null,
        "platformName": "linux", "webSocketUrl": false, "unhandledPromptBehavior": "accept"})");
    const Json capabilities = grid_firefox_capabilities(wanted);
    EXPECT_EQ(capabilities, Json::parse(R"({"browserName": "chrome", "platformName": "linux",
        "webSocketUrl": true, "unhandledPromptBehavior": "ignore"})"));
}

}  // namespace
}  // namespace varne::bidi
