#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "frame/collection.h"
#include "frame/dispatch.h"
#include "frame/text.h"

// The browser and its document object model as `Browser` uses them: the operations of the
// old object model, with no protocol behind them. Every object is also a late-binding
// object, so that scripts read, write and call anything on it by name and hand it back.
// An operation that gives an object never gives a null reference: with nothing to give, it
// fails with an AutomationError.
namespace varne::dom {

class Document;
class Element;
class ElementCollection;
class FrameCollection;
class FrameWindow;

// The element properties that the library itself reads.
enum class ElementProperty { innerText, alt, nameProp, name, type, value };

class Element : public Dispatch {
public:
    std::string_view interface_name() const noexcept override { return "HTMLElement"; }
    // An applet's ready state: the number 4 once loaded; may be null (Null or Empty).
    virtual Variant readyState() = 0;
    virtual BStr property(ElementProperty property) = 0;
    virtual Ref<ElementCollection> children() = 0;
    // A form's controls; fails with an AutomationError on an element that is not a form.
    virtual Ref<ElementCollection> elements() = 0;
    // Acts as a person's click; a load that follows runs on in the browser.
    virtual void click() = 0;
};

class ElementCollection : public Dispatch, public Collection {
public:
    std::string_view interface_name() const noexcept override { return "IHTMLElementCollection"; }
    virtual int32_t length() = 0;
    // The item at a position from 0; fails with an AutomationError when there is none.
    virtual Ref<Element> item(int32_t index) = 0;
    virtual Ref<ElementCollection> tags(const BStr& tag_name) = 0;

    int32_t item_count() override { return length(); }
    Variant item_at(int32_t index) override;

    // One walk over the collection: the property of every item, in order. This version asks
    // item by item; an adapter that can read them all at once overrides it.
    virtual std::vector<BStr> read_each(ElementProperty property);
    // For every item, the property of the first IMG among its direct children, or nothing
    // for an item without one.
    virtual std::vector<std::optional<BStr>> read_each_first_image(ElementProperty property);
    // How many items `text` names: the item's property (with `first_image`, that of the first IMG
    // among its direct children; an item without one names nothing), trimmed of spaces, is exactly
    // `text`. Nothing when the collection holds more than `most_items` items. This version reads
    // every text back; an adapter that can compare them where they are overrides it.
    virtual std::optional<int64_t> count_named(ElementProperty property, bool first_image, const BStr& text,
                                               int64_t most_items);
};

class FrameCollection : public Dispatch, public Collection {
public:
    std::string_view interface_name() const noexcept override { return "FramesCollection"; }
    virtual int32_t length() = 0;
    virtual Ref<FrameWindow> item(int32_t index) = 0;

    int32_t item_count() override { return length(); }
    Variant item_at(int32_t index) override;
};

class Document : public Dispatch {
public:
    std::string_view interface_name() const noexcept override { return "HTMLDocument"; }
    virtual BStr readyState() = 0;
    virtual Ref<FrameCollection> frames() = 0;
    virtual Ref<ElementCollection> applets() = 0;
    virtual Ref<ElementCollection> all() = 0;
    virtual Ref<ElementCollection> links() = 0;
    virtual Ref<ElementCollection> forms() = 0;
};

class FrameWindow : public Dispatch {
public:
    std::string_view interface_name() const noexcept override { return "HTMLWindow2"; }
    virtual Ref<Document> document() = 0;
    // Makes the frame load the address.
    virtual void set_location(const BStr& url) = 0;
};

// A load that the browser could not complete: the address it tried and the browser's reason
// (a network error's name, an HTTP status, the browser's refusal).
struct LoadFailure {
    BStr url;
    BStr reason;
};

// One browser application instance with its own top-level window.
class Application : public Dispatch {
public:
    std::string_view interface_name() const noexcept override { return "IWebBrowser2"; }
    virtual int32_t HWND() = 0;
    virtual void set_Visible(bool visible) = 0;
    // Starts loading the address into the whole window and returns without waiting.
    virtual void Navigate(const BStr& url) = 0;
    // 4 once the top document has loaded.
    virtual int32_t ReadyState() = 0;
    virtual Ref<dom::Document> Document() = 0;
    virtual BStr LocationURL() = 0;
    // The loads of the window or its frames that failed since the last call, oldest first; each
    // is given once.
    virtual std::vector<LoadFailure> take_load_failures() = 0;
    // Whether the window has shown a document, or a new address within its document, that the last
    // Navigate brought; false while the page it replaces is still shown.
    virtual bool navigation_shown() = 0;
};

// Starts browser application instances: the port behind `Browser`'s creation.
class BrowserLauncher {
public:
    virtual ~BrowserLauncher() = default;
    // Fails with an AutomationError that says why when no browser can be started.
    virtual Ref<Application> start_application() = 0;
};

// The object behind a late-bound reference, as the object-model type that a member needs;
// anything else (a null reference, another kind of object) is a type mismatch (13).
template <class T>
Ref<T> expect(const Ref<Dispatch>& object);

}  // namespace varne::dom

#include "frame/automation_error.h"

namespace varne::dom {

template <class T>
Ref<T> expect(const Ref<Dispatch>& object)
{
    if (!object)
        throw AutomationError(error_number::kObjectRequired, "Object required");
    auto* typed = dynamic_cast<T*>(object.get());
    if (!typed)
        throw AutomationError::type_mismatch();
    return Ref<T>(typed);
}

}  // namespace varne::dom
