#pragma once

#include <array>

namespace varne::cdp {

// The switches of every browser that the library starts on this machine, whatever the system: a
// fresh profile that fetches nothing by itself, the debugging pipe on descriptors 3 and 4, and no
// window until the library opens its page.
inline constexpr std::array kBrowserSwitches{
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--remote-debugging-pipe",
    "--no-startup-window",
};

// Added when nobody is to see the browser.
inline constexpr const char* kHeadlessSwitch = "--headless=new";

}  // namespace varne::cdp
