#pragma once

#include <memory>

#include "browser/object_model.h"
#include "platform/chromium/chromium_page.h"
#include "platform/win32_api.h"

namespace varne::chromium {

// The browser application as scripts know it (HWND, Visible, Navigate, ReadyState, Document,
// LocationURL), answered by one Chromium page. ReadyState comes from the browser's load events.
class ChromiumApplication final : public dom::Application {
public:
    explicit ChromiumApplication(std::shared_ptr<ChromiumPage> page);
    ~ChromiumApplication() override;

    int32_t HWND() override;
    void set_Visible(bool visible) override;
    void Navigate(const BStr& url) override;
    int32_t ReadyState() override;
    Ref<dom::Document> Document() override;
    BStr LocationURL() override;
    std::vector<dom::LoadFailure> take_load_failures() override;

    Variant get_property(std::u16string_view name) override;
    void put_property(std::u16string_view name, const Variant& value) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;

    // This library's additions beside the old object model, for evidence of a failed run.
    void SaveScreenshot(const BStr& path);
    void SavePageSource(const BStr& path);

private:
    std::shared_ptr<ChromiumPage> m_page;
    bool m_visible = false;
    bool m_navigated = false;  // the window shows no document before its first navigation
};

// Starts a Chromium for each browser application: headed where there is a display, headless
// otherwise or when VARNE_HEADLESS is 1. A headless browser that nobody can see is closed with the last reference to
// its application; every browser still running is closed when the process exits.
class ChromiumLauncher final : public dom::BrowserLauncher {
public:
    Ref<dom::Application> start_application() override;
};

// The window functions answered from the pages' JavaScript dialogs: while a dialog is open,
// the browser window owns a popup (its handle + 1) with an "OK" button (+ 2) and, but for an
// alert, a "Cancel" button (+ 3); the click message on a button answers the dialog.
class ChromiumWindowFunctions final : public WindowFunctions {
public:
    int32_t GetLastActivePopup(int32_t window) override;
    int32_t SetForegroundWindow(int32_t window) override;
    int32_t SetActiveWindow(int32_t window) override;
    int32_t FindWindowExA(int32_t parent, int32_t child_after, const std::string& class_name,
                          const std::string& window_text) override;
    intptr_t SendMessageA(int32_t window, uint32_t message, uintptr_t wparam, intptr_t lparam) override;
};

}  // namespace varne::chromium
