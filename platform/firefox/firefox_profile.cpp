#include "platform/firefox/firefox_profile.h"

#include <charconv>

namespace varne::bidi {

namespace {

using Json = nlohmann::json;

constexpr std::string_view kListenLine = "WebDriver BiDi listening on ws://";

std::string pref_line(const FirefoxPref& pref)
{
    return "user_pref(" + Json(std::string(pref.name)).dump() + ", " + pref.value.dump() + ");\n";
}

}  // namespace

const std::vector<FirefoxPref>& firefox_profile_prefs()
{
    static const std::vector<FirefoxPref> prefs{
        // No updates, of the browser, its add-ons or its search engines.
        {"app.update.disabledForTesting", true},
        {"app.update.checkInstallTime", false},
        {"extensions.update.enabled", false},
        {"extensions.getAddons.cache.enabled", false},
        {"browser.search.update", false},
        {"app.normandy.api_url", ""},
        // No telemetry or health reports.
        {"datareporting.healthreport.uploadEnabled", false},
        {"datareporting.policy.dataSubmissionEnabled", false},
        {"datareporting.usage.uploadEnabled", false},
        {"telemetry.fog.test.localhost_port", -1},
        {"toolkit.telemetry.server", ""},
        // No first-run, what's-new or default-browser pages.
        {"browser.startup.homepage_override.mstone", "ignore"},
        {"startup.homepage_welcome_url", "about:blank"},
        {"startup.homepage_welcome_url.additional", ""},
        {"browser.startup.page", 0},
        {"browser.shell.checkDefaultBrowser", false},
        {"browser.newtabpage.enabled", false},
        {"browser.uitour.enabled", false},
        {"browser.warnOnQuit", false},
        {"browser.sessionstore.resume_from_crash", false},
        {"toolkit.startup.max_resumed_crashes", -1},
        // No remote settings, safe-browsing lists, captive-portal or connectivity probes.
        {"services.settings.server", "data:,#remote-settings-dummy/v1"},
        {"browser.safebrowsing.malware.enabled", false},
        {"browser.safebrowsing.phishing.enabled", false},
        {"browser.safebrowsing.downloads.enabled", false},
        {"browser.safebrowsing.blockedURIs.enabled", false},
        {"network.captive-portal-service.enabled", false},
        {"network.connectivity-service.enabled", false},
        {"network.http.speculative-parallel-limit", 0},
        {"browser.urlbar.suggest.searches", false},
        // No media plug-in downloads (OpenH264, Widevine): these four stop the lookups the
        // remote agent's own prefs leave.
        {"media.gmp-provider.enabled", false},
        {"media.gmp-manager.url", ""},
        {"media.gmp-manager.chromium-update-url", ""},
        {"media.gmp-widevinecdm.allow-chromium-update", false},
        // The browser's own bound on the navigations that a page's scripts may start, 200 in 10 s,
        // which the remote agent lifts: a page that sends its window away without end would keep
        // the browser too busy to answer anything, the script's own navigation away included.
        {"dom.navigation.navigationRateLimit.count", 200},
        // A call whose document goes away fails instead of running again in the next document.
        {"remote.retry-on-abort", false},
        // beforeunload asks without an earlier real click, as a script's navigation expects.
        {"dom.require_user_interaction_for_beforeunload", false},
        // Pages may open windows; slow scripts are never stopped by a dialog.
        {"dom.disable_open_during_load", false},
        {"dom.max_script_run_time", 0},
        {"dom.max_chrome_script_run_time", 0},
        {"signon.rememberSignons", false},
        {"browser.translations.automaticallyPopup", false},
    };
    return prefs;
}

std::string firefox_user_js()
{
    std::string text;
    for (const auto& pref : firefox_profile_prefs())
        text += pref_line(pref);
    return text;
}

std::optional<std::pair<std::string, uint16_t>> bidi_listen_address(std::string_view output)
{
    const auto at = output.find(kListenLine);
    if (at == std::string_view::npos)
        return std::nullopt;
    const auto rest = output.substr(at + kListenLine.size());
    const auto line_end = rest.find_first_of("\r\n");
    if (line_end == std::string_view::npos)
        return std::nullopt;  // the line is not whole yet
    const auto address = rest.substr(0, line_end);
    const auto colon = address.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    unsigned port = 0;
    const auto digits = address.substr(colon + 1);
    const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (parsed.ec != std::errc() || parsed.ptr != digits.data() + digits.size() || port == 0 || port > 65535)
        return std::nullopt;
    return std::pair{std::string(address.substr(0, colon)), static_cast<uint16_t>(port)};
}

}  // namespace varne::bidi
