#pragma once

#include <chrono>

// How long the library waits for a browser, in one place. A browser on a busy machine is slow, not
// dead: the bounds are set well above what starts and commands took on a 2-core machine under a
// load of 16 and under a CPU quota of half a core (bench/load_bench.cpp; slowest figures beside
// each bound). A browser whose process is gone or whose connection closed is told at once, whatever
// the bound.
namespace varne::session_bounds {

using namespace std::chrono_literals;

// Any one command. Slowest seen beside 8 busy loops at a load average of 25 to 33: Firefox's
// browsingContext.getTree 6.3 s, Chromium's Page.enable 3.9 s and Target.createTarget 1.6 s
// (unloaded: all under 0.2 s).
inline constexpr std::chrono::milliseconds kCommand = 60000ms;
// A browser's first answer after its launch. Slowest seen: Chromium 5.8 s.
inline constexpr std::chrono::milliseconds kLaunch = 60000ms;
// Firefox's start: printing its BiDi address, then answering session.new, which it does once its
// start-up tasks have run. Slowest seen: 85 s for both together.
inline constexpr std::chrono::milliseconds kFirefoxListen = 120000ms;
inline constexpr std::chrono::milliseconds kFirefoxSession = 150000ms;
// A wait that reached its bound goes on while bytes of a message keep arriving, or the session is
// still reading one; it ends once nothing has come for this long. A 50 MB page value took 88 s
// (Chromium) and 48 s (Firefox) under that load, arriving all the while.
inline constexpr std::chrono::milliseconds kStall = 10000ms;
// How often such a wait looks again.
inline constexpr std::chrono::milliseconds kProgressCheck = 500ms;

// A new browser context (Chromium) or user context (Firefox), which takes seconds on a busy
// machine, as a start does.
inline constexpr std::chrono::milliseconds kContext = 30000ms;
// How long a browser with no page left waits for the next one: a test suite that opens a Browser
// per test opens the next one within milliseconds of releasing the last.
inline constexpr std::chrono::milliseconds kIdleGrace = 2000ms;

// Connecting to a browser's socket, which a live browser that listens accepts at once.
inline constexpr std::chrono::milliseconds kConnect = 5000ms;
// The answer to a command sent on the way out (closing a tab, ending the session or the browser):
// a browser that does not answer it soon is gone or stuck, and is ended anyway.
inline constexpr std::chrono::milliseconds kCloseAnswer = 2000ms;
// A local browser's exit once it has been asked to close, or its main process has ended, before it
// is killed.
inline constexpr std::chrono::milliseconds kExit = 5000ms;
// A browser whose start failed: how long its exit is awaited for the exit status to tell why.
inline constexpr std::chrono::milliseconds kExitAfterFailedStart = 2000ms;
// The rest of a local browser's process group, once the main process has exited or was killed.
inline constexpr std::chrono::milliseconds kGroupExit = 2000ms;

// How long a Grid may give no answer, neither over its browser's socket nor to a status request,
// before its session counts as lost.
inline constexpr std::chrono::milliseconds kGridSilence = 60000ms;

}  // namespace varne::session_bounds
