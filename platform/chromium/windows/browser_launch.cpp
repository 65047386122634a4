#include "platform/chromium/browser_host.h"

#include <windows.h>

#include <cwctype>

#include "platform/chromium/windows/windows_browser_host.h"
#include "platform/chromium/windows/wine_browser_host.h"

namespace varne::cdp {

namespace {

// Under Wine a Windows program (.exe) named by VARNE_CHROMIUM is started as on Windows; any other
// program is the host's, which only the socket route reaches.
bool chosen_windows_program()
{
    const auto chosen = chosen_browser();
    if (!chosen)
        return false;
    std::wstring extension = chosen->extension().wstring();
    for (auto& c : extension)
        c = static_cast<wchar_t>(std::towlower(c));
    return extension == L".exe";
}

}  // namespace

std::unique_ptr<BrowserHost> open_browser_host(const EnvironmentLookup& environment, bool headless)
{
    if (running_under_wine() && !chosen_windows_program())
        return WineBrowserHost::launch(environment, headless);
    return WindowsBrowserHost::launch(headless);
}

// Each application of the Windows build has a browser of its own: a headed window is found by its
// process, and a shared browser would outlive the script's host, whose exit runs under the loader
// lock, where the pool's threads cannot be joined.
std::string shared_browser_key(const EnvironmentLookup&, bool)
{
    return {};
}

bool can_show_browser_window(const EnvironmentLookup& environment)
{
    // Under Wine the browser's window would be shown on the host's display.
    if (running_under_wine())
        return variable_set(environment, "DISPLAY");
    // A service's window station is not visible: nobody could see or close a window there.
    USEROBJECTFLAGS flags{};
    return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace varne::cdp
