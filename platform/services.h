#pragma once

namespace varne {

class Clock;
class FileSystem;
class WindowFunctions;
class SpreadsheetLauncher;
namespace dom {
class BrowserLauncher;
}

// The ports through which the library reaches everything outside the process. The real
// adapters stand here by default; tests put fakes in their place for a scope.
struct Services {
    Clock* clock = nullptr;
    FileSystem* files = nullptr;
    WindowFunctions* windows = nullptr;
    dom::BrowserLauncher* browsers = nullptr;
    SpreadsheetLauncher* spreadsheets = nullptr;
};

const Services& services();

// Replaces the services until it goes out of scope; the ones left null keep their current adapters.
class ScopedServices {
public:
    explicit ScopedServices(const Services& replacement);
    ~ScopedServices();
    ScopedServices(const ScopedServices&) = delete;
    ScopedServices& operator=(const ScopedServices&) = delete;

private:
    Services m_previous;
};

}  // namespace varne
