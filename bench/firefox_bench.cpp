// Times the Firefox engine for the page model: launch to a usable page, and a round trip of a
// script evaluated in the page. Prints one JSON object per run; firefox_bench.py runs it
// alternately with a bare BiDi client of the same Firefox and prints both.
//
//   firefox_bench --page URL [--round-trips N]

#include "bench/arguments.h"
#include "bench/measure.h"
#include "composition/process_environment.h"
#include "page/page_state.h"
#include "platform/firefox/firefox_engine.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

namespace {

using varne::bench::Clock;
using namespace std::chrono_literals;
using varne::bench::ms_since;

}  // namespace

int main(int argc, char** argv)
{
    const varne::bench::NamedArguments arguments(argc, argv);
    const std::string page = arguments.text("--page", "about:blank");
    const int round_trips = arguments.number("--round-trips", 1000);
    try {
        const auto start = Clock::now();
        varne::page::PageState state;
        auto delegate = varne::bidi::FirefoxEngine(varne::process_environment).open_page(state, true);
        state.set_main_frame(delegate->main_frame_id());
        state.navigation_requested(delegate->main_frame_id());
        delegate->navigate(delegate->main_frame_id(), page);
        while (state.ready_state() != 4)
            std::this_thread::sleep_for(1ms);
        const double launch = ms_since(start);

        const std::string realm = state.realm_of(delegate->main_frame_id(), 10s).value_or("");
        const auto trips = Clock::now();
        for (int i = 0; i < round_trips; ++i)
            delegate->evaluate(realm, "1+1", true);
        const double round_trip = ms_since(trips) / round_trips;
        const auto closing = Clock::now();
        delegate->close();
        std::cout << nlohmann::json{{"launch_ms", launch},
                                    {"round_trip_ms", round_trip},
                                    {"close_ms", ms_since(closing)}}
                  << std::endl;
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "firefox_bench: " << error.what() << std::endl;
        return 1;
    }
}
