#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dom/object_model.h"
#include "page/browser_page.h"

// The object model answered by a browser page: documents, frames, collections and elements as
// the old browser's scripts knew them, each also reachable by any DOM name. What they run in the
// page is the page scripts' (page/js/).
namespace varne::page {

using PagePtr = std::shared_ptr<BrowserPage>;

// A handle to one object in the page, released there when the last holder lets go.
class RemoteHandle {
public:
    RemoteHandle(PagePtr page, std::string handle);
    ~RemoteHandle();
    RemoteHandle(const RemoteHandle&) = delete;
    RemoteHandle& operator=(const RemoteHandle&) = delete;

    const PagePtr& page() const { return m_page; }
    const std::string& id() const { return m_id; }

    // Runs a function in the page with `this` bound to the object. Raises an AutomationError
    // when the page is gone or blocked by a dialog, or when the function throws. A function
    // that opens a dialog (a click) answers Undefined at once.
    RemoteValue run(std::string_view declaration, const std::vector<CallArgument>& arguments = {}, bool by_value = true,
                    bool user_gesture = false) const;
    // Runs one task of the object script (page/js/object_task.js) on the object.
    RemoteValue task(std::string_view name, std::vector<CallArgument> arguments = {}, bool by_value = true,
                     bool user_gesture = false) const;

private:
    PagePtr m_page;
    std::string m_id;
};

using HandlePtr = std::shared_ptr<const RemoteHandle>;

// Late binding by any DOM name on an object of the page: properties are read and written,
// methods called; a name that the object lacks fails with error 438.
Variant get_member(Dispatch& self, const RemoteHandle& handle, std::u16string_view name);
void put_member(const RemoteHandle& handle, std::u16string_view name, const Variant& value);
Variant call_member(const RemoteHandle& handle, std::u16string_view name, std::span<const Variant> args);
Variant call_object(const RemoteHandle& handle, std::span<const Variant> args);

// A value that the page gave back, as scripts receive it.
Variant to_variant(const PagePtr& page, const RemoteValue& value);

// Any object of the page that has no more specific type here.
class RemoteObject final : public Dispatch {
public:
    explicit RemoteObject(HandlePtr handle) : m_handle(std::move(handle)) {}
    const HandlePtr& handle() const { return m_handle; }

    Variant get_property(std::u16string_view name) override { return get_member(*this, *m_handle, name); }
    void put_property(std::u16string_view name, const Variant& value) override { put_member(*m_handle, name, value); }
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override
    {
        return call_member(*m_handle, name, args);
    }
    Variant call_default(std::span<const Variant> args) override { return call_object(*m_handle, args); }

private:
    HandlePtr m_handle;
};

// A document of one frame. One taken from a frame is bound to the document that the frame
// shows now: once the frame has moved on to another, every use fails as a stale object. The
// document of a frame of another origin answers its load state and frames, and refuses the rest.
class RemoteDocument final : public dom::Document {
public:
    RemoteDocument(PagePtr page, std::string frame_id, std::string foreign_origin = {});
    explicit RemoteDocument(HandlePtr handle);

    BStr readyState() override;
    Ref<dom::FrameCollection> frames() override;
    Ref<dom::ElementCollection> applets() override;
    Ref<dom::ElementCollection> all() override;
    Ref<dom::ElementCollection> links() override;
    Ref<dom::ElementCollection> forms() override;

    Variant get_property(std::u16string_view name) override;
    void put_property(std::u16string_view name, const Variant& value) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;

    // The page's handle of this document, fetched on first use.
    HandlePtr handle();

private:
    void check_current() const;

    PagePtr m_page;
    std::string m_frame_id;  // empty for a document reached through another object
    uint64_t m_generation = 0;
    std::string m_foreign_origin;
    HandlePtr m_handle;
};

// The frame windows of a document, in the order the frames were made.
class RemoteFrames final : public dom::FrameCollection {
public:
    RemoteFrames(PagePtr page, std::string frame_id);

    int32_t length() override;
    Ref<dom::FrameWindow> item(int32_t index) override;

    Variant get_property(std::u16string_view name) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;
    Variant call_default(std::span<const Variant> args) override;

private:
    std::vector<std::string> children() const;

    PagePtr m_page;
    std::string m_frame_id;
    uint64_t m_generation;
};

class RemoteFrameWindow final : public dom::FrameWindow {
public:
    RemoteFrameWindow(PagePtr page, std::string frame_id);

    Ref<dom::Document> document() override;
    void set_location(const BStr& url) override;

    Variant get_property(std::u16string_view name) override;
    void put_property(std::u16string_view name, const Variant& value) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;

private:
    HandlePtr window_handle();

    PagePtr m_page;
    std::string m_frame_id;
};

// Which collection of an object: one of its own (`kind`: "self" for the object itself, "all",
// "links", "forms", "children", "elements"), narrowed to the elements of each tag name in turn.
struct CollectionSource {
    std::string kind;
    std::vector<BStr> tags;
};

// An element collection, read afresh on every use from the object behind `base`
// (page/js/collection_task.js).
class RemoteCollection final : public dom::ElementCollection {
public:
    RemoteCollection(HandlePtr base, CollectionSource source);

    int32_t length() override;
    Ref<dom::Element> item(int32_t index) override;
    // As item, but an array of the page's values (names, numbers) gives its values as they are.
    Variant item_at(int32_t index) override;
    Ref<dom::ElementCollection> tags(const BStr& tag_name) override;
    std::vector<BStr> read_each(dom::ElementProperty property) override;
    std::vector<std::optional<BStr>> read_each_first_image(dom::ElementProperty property) override;
    // Compares in the page, so that only the count comes back.
    std::optional<int64_t> count_named(dom::ElementProperty property, bool first_image, const BStr& text,
                                       int64_t most_items) override;

    Variant get_property(std::u16string_view name) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;
    Variant call_default(std::span<const Variant> args) override;

private:
    RemoteValue run(std::string_view task, std::vector<CallArgument> arguments = {}, bool by_value = true) const;

    HandlePtr m_base;
    CollectionSource m_source;
};

// A collection known to be empty without asking the page (a document's applets: the browser
// has none).
class EmptyCollection final : public dom::ElementCollection {
public:
    int32_t length() override { return 0; }
    Ref<dom::Element> item(int32_t index) override;
    Ref<dom::ElementCollection> tags(const BStr&) override { return Ref<dom::ElementCollection>(this); }
    Variant get_property(std::u16string_view name) override;
};

class RemoteElement final : public dom::Element {
public:
    explicit RemoteElement(HandlePtr handle) : m_handle(std::move(handle)) {}

    Variant readyState() override;
    BStr property(dom::ElementProperty property) override;
    Ref<dom::ElementCollection> children() override;
    Ref<dom::ElementCollection> elements() override;
    void click() override;

    Variant get_property(std::u16string_view name) override;
    void put_property(std::u16string_view name, const Variant& value) override;
    Variant call_method(std::u16string_view name, std::span<const Variant> args) override;
    Variant call_default(std::span<const Variant> args) override { return call_object(*m_handle, args); }

    const HandlePtr& handle() const { return m_handle; }

private:
    HandlePtr m_handle;
};

}  // namespace varne::page
