#pragma once

#include <memory>
#include <string>

#include "dom/object_model.h"
#include "page/browser_page.h"
#include "platform/file_system.h"

namespace varne::page {

// The browser application as scripts know it (HWND, Visible, Navigate, ReadyState, Document,
// LocationURL), answered by one browser page. ReadyState comes from the browser's load events.
class BrowserApplication final : public dom::Application {
public:
    // How often a navigation of the script's that the page cut short is asked for again, the page
    // held still before each try. Firefox lets a page's navigation cancel the script's, and the
    // holding may miss a document that the page has just replaced; but Firefox starts no more than
    // 200 navigations of a page's scripts in 10 s. At the waits' pace of a check every 100 ms, the
    // tries outlast that, and a page that nothing stops still ends the wait in a bounded time.
    static constexpr int kMostNavigationsAgain = 150;

    // `name`: the browser's name, as the Name property gives it; screenshots and page sources are
    // saved through `files`.
    BrowserApplication(std::shared_ptr<BrowserPage> page, std::u16string name, FileSystem& files);
    ~BrowserApplication() override;

    int32_t HWND() override;
    void set_Visible(bool visible) override;
    void Navigate(const BStr& url) override;
    int32_t ReadyState() override;
    Ref<dom::Document> Document() override;
    BStr LocationURL() override;
    std::vector<dom::LoadFailure> take_load_failures() override;
    bool navigation_shown() override;

    Variant get_property(std::u16string_view name) override;
    void put_property(std::u16string_view name, const Variant& value) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;

    // This library's additions beside the old object model, for evidence of a failed run.
    void SaveScreenshot(const BStr& path);
    void SavePageSource(const BStr& path);
    // This library's additions for a script that checks a load: the HTTP status of the top
    // document shown (0 where none answered) and the failed loads since the window's last
    // navigation began.
    int32_t StatusCode();
    Ref<Dispatch> LoadFailures();

private:
    // Asks for the window's navigation to the address of the last Navigate.
    void navigate_window();

    std::shared_ptr<BrowserPage> m_page;
    std::u16string m_name;
    FileSystem& m_files;
    bool m_visible = false;
    bool m_navigated = false;  // the window shows no document before its first navigation
    uint64_t m_addresses_before_navigation = 0;
    std::string m_address;  // of the last Navigate, as the browser takes it
    int m_navigations_again = 0;  // how often it may still be asked for again
};

}  // namespace varne::page
