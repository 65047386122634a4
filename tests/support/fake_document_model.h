#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dom/object_model.h"

namespace varne::testing {

// A load that reads as unfinished for a number of checks, then as finished; or never finishes.
class Loading {
public:
    static Loading done() { return Loading(0); }
    static Loading after(int32_t unfinished_checks) { return Loading(unfinished_checks); }
    static Loading never() { return Loading(-1); }

    // One check: true once the load has finished.
    bool check();
    int32_t checks() const { return m_checks; }

private:
    explicit Loading(int32_t unfinished) : m_unfinished(unfinished) {}

    int32_t m_unfinished;  // -1: never
    int32_t m_checks = 0;
};

// The port calls that the code under test made, by name ("Document.links", "ElementCollection.item"...).
// Calls that a test makes by late binding are not recorded.
class PortCalls {
public:
    void record(std::string name)
    {
        m_names.push_back(std::move(name));
        if (m_observer)
            m_observer(m_names.back());
    }
    // Runs after each recorded call: a test changes the page there, between two calls of the code under test.
    void observe(std::function<void(const std::string&)> observer) { m_observer = std::move(observer); }
    int64_t count() const { return static_cast<int64_t>(m_names.size()); }
    int64_t count(const std::string& name) const;
    const std::vector<std::string>& names() const { return m_names; }
    void clear() { m_names.clear(); }

private:
    std::vector<std::string> m_names;
    std::function<void(const std::string&)> m_observer;
};

class FakeDocument;
class FakeFrameWindow;
class FakeApplication;

// A scripted element: a tag, properties, direct children, an applet's ready state and a click action.
class FakeElement final : public dom::Element {
public:
    FakeElement(std::shared_ptr<PortCalls> calls, BStr tag);

    FakeElement& set(dom::ElementProperty property, BStr value);
    FakeElement& append(Ref<FakeElement> child);
    FakeElement& remove_last_child();
    FakeElement& set_ready(Loading loading);
    FakeElement& set_null_ready_state();
    FakeElement& on_click(std::function<void()> action);

    const BStr& tag() const { return m_tag; }
    BStr value_of(dom::ElementProperty property) const;
    const std::vector<Ref<FakeElement>>& child_elements() const { return m_children; }
    // Itself and its descendants in document order.
    void collect(std::vector<Ref<FakeElement>>& out);
    int32_t clicks() const { return m_clicks; }

    Variant readyState() override;
    BStr property(dom::ElementProperty property) override;
    Ref<dom::ElementCollection> children() override;
    Ref<dom::ElementCollection> elements() override;
    void click() override;

    Variant get_property(std::u16string_view name) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;

private:
    void fire_click();

    std::shared_ptr<PortCalls> m_calls;
    BStr m_tag;
    std::map<dom::ElementProperty, BStr> m_properties;
    std::vector<Ref<FakeElement>> m_children;
    Loading m_ready = Loading::done();
    bool m_null_ready_state = false;
    std::function<void()> m_on_click;
    int32_t m_clicks = 0;
};

// A collection that reads every item's property in one call, as a remote adapter does.
class FakeElementCollection final : public dom::ElementCollection {
public:
    FakeElementCollection(std::shared_ptr<PortCalls> calls, std::vector<Ref<FakeElement>> items);

    int32_t length() override;
    Ref<dom::Element> item(int32_t index) override;
    Ref<dom::ElementCollection> tags(const BStr& tag_name) override;
    std::vector<BStr> read_each(dom::ElementProperty property) override;
    std::vector<std::optional<BStr>> read_each_first_image(dom::ElementProperty property) override;

    Variant get_property(std::u16string_view name) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;
    Variant call_default(std::span<const Variant> args) override;

private:
    Ref<FakeElement> at(int32_t index) const;

    std::shared_ptr<PortCalls> m_calls;
    std::vector<Ref<FakeElement>> m_items;
};

using FrameList = std::vector<Ref<FakeFrameWindow>>;

// A live view of a document's frames.
class FakeFrameCollection final : public dom::FrameCollection {
public:
    FakeFrameCollection(std::shared_ptr<PortCalls> calls, std::shared_ptr<const FrameList> frames);

    int32_t length() override;
    Ref<dom::FrameWindow> item(int32_t index) override;

    Variant get_property(std::u16string_view name) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;
    Variant call_default(std::span<const Variant> args) override;

private:
    std::shared_ptr<PortCalls> m_calls;
    std::shared_ptr<const FrameList> m_frames;
};

// A document: a tree of elements, its frame windows and its own ready state.
class FakeDocument final : public dom::Document {
public:
    FakeDocument(std::shared_ptr<PortCalls> calls, Loading loading);

    FakeDocument& append(Ref<FakeElement> element);
    FakeDocument& add_frame(Ref<FakeFrameWindow> frame);
    // The body's innerText as each read finds it.
    FakeDocument& set_body_text(std::function<BStr()> text);
    // Whether querySelector finds an element for a selector, as each call finds it.
    FakeDocument& set_selector_matches(std::function<bool(const BStr&)> matches);
    // Reads of its body and selector calls are refused, as a document of another origin refuses them.
    FakeDocument& set_foreign()
    {
        m_foreign = true;
        return *this;
    }
    const Loading& loading() const { return m_loading; }
    int32_t body_reads() const { return m_body_reads; }

    BStr readyState() override;
    Ref<dom::FrameCollection> frames() override;
    Ref<dom::ElementCollection> applets() override;
    Ref<dom::ElementCollection> all() override;
    Ref<dom::ElementCollection> links() override;
    Ref<dom::ElementCollection> forms() override;

    Variant get_property(std::u16string_view name) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;

private:
    std::vector<Ref<FakeElement>> with_tag(std::u16string_view tag);
    void check_not_foreign() const;
    Ref<FakeElementCollection> collection(std::vector<Ref<FakeElement>> items);

    std::shared_ptr<PortCalls> m_calls;
    Loading m_loading;
    std::vector<Ref<FakeElement>> m_body;
    std::shared_ptr<FrameList> m_frames = std::make_shared<FrameList>();
    std::function<BStr()> m_body_text;
    std::function<bool(const BStr&)> m_selector_matches;
    bool m_foreign = false;
    int32_t m_body_reads = 0;
};

// The pages that an address loads, shared by the application and its frame windows.
struct FakeSite {
    struct Page {
        Ref<FakeDocument> document;
        Loading loading = Loading::done();  // the application's ReadyState while the page loads
        BStr location;  // where the page ends, after any redirection
        BStr failure;  // the browser's reason when the load fails; empty when it succeeds
        bool shown = true;  // false: the browser never replaces the page shown with it
    };
    std::map<BStr, Page> pages;
    std::vector<dom::LoadFailure> failures;  // not yet taken

    // Notes the failure of the page's load, if it has one.
    void loaded(const BStr& url);
};

class FakeFrameWindow final : public dom::FrameWindow {
public:
    FakeFrameWindow(std::shared_ptr<PortCalls> calls, std::shared_ptr<FakeSite> site, Ref<FakeDocument> document);

    const std::vector<BStr>& locations() const { return m_locations; }
    // The frame goes with the document that held it: every later use fails as a stale object does.
    void go() { m_gone = true; }

    Ref<dom::Document> document() override;
    // Loads the site's page for the address, or keeps the document when the site has none.
    void set_location(const BStr& url) override;

    Variant get_property(std::u16string_view name) override;
    void put_property(std::u16string_view name, const Variant& value) override;

private:
    std::shared_ptr<PortCalls> m_calls;
    std::shared_ptr<FakeSite> m_site;
    Ref<FakeDocument> m_document;
    std::vector<BStr> m_locations;
    bool m_gone = false;
};

class FakeApplication final : public dom::Application {
public:
    FakeApplication(std::shared_ptr<PortCalls> calls, std::shared_ptr<FakeSite> site, int32_t window_handle);

    // What a link or a button sets off: the site's page for the address starts loading.
    void load(const BStr& url);
    // A load in the same document: ReadyState drops, then recovers as `loading` says.
    void start_load(Loading loading) { m_loading = loading; }

    bool visible() const { return m_visible; }
    const std::vector<BStr>& navigations() const { return m_navigations; }
    int32_t ready_checks() const { return m_loading.checks(); }

    int32_t HWND() override;
    void set_Visible(bool visible) override;
    void Navigate(const BStr& url) override;
    int32_t ReadyState() override;
    Ref<dom::Document> Document() override;
    BStr LocationURL() override;

    Variant get_property(std::u16string_view name) override;
    void put_property(std::u16string_view name, const Variant& value) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;
    std::vector<dom::LoadFailure> take_load_failures() override;
    bool navigation_shown() override { return m_navigation_shown; }

private:
    std::shared_ptr<PortCalls> m_calls;
    std::shared_ptr<FakeSite> m_site;
    int32_t m_window_handle;
    bool m_navigation_shown = false;
    bool m_visible = false;
    Loading m_loading = Loading::done();
    Ref<FakeDocument> m_document;
    BStr m_location;
    std::vector<BStr> m_navigations;
};

// Hands out one scripted application, or fails as a machine without a browser does.
class FakeBrowserLauncher final : public dom::BrowserLauncher {
public:
    explicit FakeBrowserLauncher(Ref<FakeApplication> application) : m_application(std::move(application)) {}

    Ref<dom::Application> start_application() override;
    int32_t starts() const { return m_starts; }

private:
    Ref<FakeApplication> m_application;
    int32_t m_starts = 0;
};

// The scripted browser world of one test: it makes the objects, shares one record of port
// calls among them and keeps the site's pages.
class FakeDocumentModel {
public:
    static constexpr int32_t kWindowHandle = 0x10010;

    explicit FakeDocumentModel(int32_t window_handle = kWindowHandle);
    // The pages hold documents whose elements may point back at the application.
    ~FakeDocumentModel();
    FakeDocumentModel(const FakeDocumentModel&) = delete;
    FakeDocumentModel& operator=(const FakeDocumentModel&) = delete;

    FakeApplication& application() { return *m_application; }
    FakeBrowserLauncher& launcher() { return m_launcher; }
    PortCalls& calls() { return *m_calls; }

    Ref<FakeDocument> document(Loading loading = Loading::done());
    Ref<FakeFrameWindow> frame(Ref<FakeDocument> document);
    // The page that `url` loads, in the whole window or in a frame.
    void add_page(const BStr& url, Ref<FakeDocument> document, Loading loading = Loading::done(),
                  const BStr& location = {});
    // Makes the page's loads fail for that reason; the page still shows `document` (the error page).
    void fail_page(const BStr& url, BStr reason);
    // Makes the window keep the page it shows when it is sent to `url`.
    void keep_page_at(const BStr& url) { m_site->pages[url].shown = false; }
    // A failure that the browser reports for a load that nobody asked for.
    void report_failure(BStr url, BStr reason);

    Ref<FakeElement> element(BStr tag, BStr inner_text = {});
    Ref<FakeElement> link(BStr inner_text);
    Ref<FakeElement> image(BStr alt, BStr name_prop);
    Ref<FakeElement> form(BStr name);
    Ref<FakeElement> input(BStr type, BStr value);
    Ref<FakeElement> applet(Loading loading);

private:
    std::shared_ptr<PortCalls> m_calls;
    std::shared_ptr<FakeSite> m_site;
    Ref<FakeApplication> m_application;
    FakeBrowserLauncher m_launcher;
};

}  // namespace varne::testing
