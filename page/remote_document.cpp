#include "page/remote_objects.h"

#include "frame/automation_error.h"
#include "page/list_members.h"
#include "page/page_scripts.h"
#include "page/page_text.h"
#include "page/remote_arguments.h"

namespace varne::page {

// RemoteDocument

RemoteDocument::RemoteDocument(PagePtr page, std::string frame_id, std::string foreign_origin)
    : m_page(std::move(page)),
      m_frame_id(std::move(frame_id)),
      m_generation(m_page->state().generation(m_frame_id)),
      m_foreign_origin(std::move(foreign_origin))
{
}

RemoteDocument::RemoteDocument(HandlePtr handle) : m_page(handle->page()), m_handle(std::move(handle)) {}

void RemoteDocument::check_current() const
{
    m_page->check_alive();
    if (!m_frame_id.empty() && m_page->state().generation(m_frame_id) != m_generation)
        throw_stale();
}

HandlePtr RemoteDocument::handle()
{
    check_current();
    if (!m_foreign_origin.empty())
        throw AutomationError(error_number::kPermissionDenied,
                              "Permission denied: the frame shows a document of another origin (" + m_foreign_origin +
                                  ")");
    if (!m_handle) {
        auto value = m_page->call([&] {
            return m_page->delegate().evaluate(m_page->realm_for(m_frame_id), std::string(scripts::kDocument), false);
        });
        check_current();  // the frame may have moved on while the context was looked up
        m_handle = std::make_shared<const RemoteHandle>(m_page, value.handle);
    }
    return m_handle;
}

BStr RemoteDocument::readyState()
{
    check_current();
    if (!m_frame_id.empty())
        return m_page->state().frame_ready(m_frame_id) ? u"complete" : u"loading";
    return to_bstr(to_variant(m_page, handle()->task("documentReadyState")));
}

Ref<dom::FrameCollection> RemoteDocument::frames()
{
    check_current();
    std::string frame_id = m_frame_id;
    if (frame_id.empty()) {
        // A document reached through another object: its frame is the one its window sits in.
        auto holder = handle()->task("frameElement", {}, false);
        frame_id = holder.handle.empty() ? m_page->state().main_frame_id()
                                         : m_page->call([&] { return m_page->delegate().frame_of(holder.handle); });
        if (!holder.handle.empty())
            m_page->release_object(holder.handle);
    }
    return make_object<RemoteFrames>(m_page, frame_id);
}

Ref<dom::ElementCollection> RemoteDocument::applets()
{
    check_current();
    return make_object<EmptyCollection>();
}

Ref<dom::ElementCollection> RemoteDocument::all()
{
    return make_object<RemoteCollection>(handle(), CollectionSource{"all", {}});
}

Ref<dom::ElementCollection> RemoteDocument::links()
{
    return make_object<RemoteCollection>(handle(), CollectionSource{"links", {}});
}

Ref<dom::ElementCollection> RemoteDocument::forms()
{
    return make_object<RemoteCollection>(handle(), CollectionSource{"forms", {}});
}

Variant RemoteDocument::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"readyState"))
        return readyState();
    if (equals_ignoring_case(name, u"frames"))
        return Ref<Dispatch>(frames());
    if (equals_ignoring_case(name, u"applets"))
        return Ref<Dispatch>(applets());
    if (equals_ignoring_case(name, u"all"))
        return Ref<Dispatch>(all());
    if (equals_ignoring_case(name, u"links"))
        return Ref<Dispatch>(links());
    if (equals_ignoring_case(name, u"forms"))
        return Ref<Dispatch>(forms());
    return get_member(*this, *handle(), name);
}

void RemoteDocument::put_property(std::u16string_view name, const Variant& value)
{
    put_member(*handle(), name, value);
}

Variant RemoteDocument::call_method(std::u16string_view name, std::span<const Variant> args)
{
    return call_member(*handle(), name, args);
}

// RemoteFrames

RemoteFrames::RemoteFrames(PagePtr page, std::string frame_id)
    : m_page(std::move(page)), m_frame_id(std::move(frame_id)), m_generation(m_page->state().generation(m_frame_id))
{
}

std::vector<std::string> RemoteFrames::children() const
{
    m_page->check_alive();
    if (m_page->state().generation(m_frame_id) != m_generation)
        throw_stale();
    return m_page->state().child_frames(m_frame_id);
}

int32_t RemoteFrames::length()
{
    return static_cast<int32_t>(children().size());
}

Ref<dom::FrameWindow> RemoteFrames::item(int32_t index)
{
    auto frames = children();
    if (index < 0 || static_cast<size_t>(index) >= frames.size())
        throw AutomationError(error_number::kSubscriptOutOfRange, "Subscript out of range: frame " +
                                                                      std::to_string(index) + " of a document with " +
                                                                      std::to_string(frames.size()) + " frames");
    return make_object<RemoteFrameWindow>(m_page, frames[static_cast<size_t>(index)]);
}

Variant RemoteFrames::get_property(std::u16string_view name)
{
    if (auto member = list_member(*this, name))
        return *member;
    throw_not_supported(name);
}

Variant RemoteFrames::call_method(std::u16string_view name, std::span<const Variant> args)
{
    if (!equals_ignoring_case(name, u"item") || args.size() != 1)
        throw_not_supported(name);
    return call_default(args);
}

Variant RemoteFrames::call_default(std::span<const Variant> args)
{
    if (args.size() != 1)
        throw AutomationError(error_number::kWrongArgumentCount, "Wrong number of arguments: item takes a position");
    return Ref<Dispatch>(item(to_i4(args[0])));
}

// RemoteFrameWindow

RemoteFrameWindow::RemoteFrameWindow(PagePtr page, std::string frame_id)
    : m_page(std::move(page)), m_frame_id(std::move(frame_id))
{
}

Ref<dom::Document> RemoteFrameWindow::document()
{
    m_page->check_alive();
    auto& state = m_page->state();
    if (!state.has_frame(m_frame_id))
        throw AutomationError(error_number::kObjectDisconnected,
                              "The object invoked has disconnected from its clients: the frame is gone");
    // A page may not read the document of a frame of another origin, and neither may its
    // scripts here; when it has loaded is no secret, so the waits still see that.
    std::string parent_origin = state.origin_of(state.parent_of(m_frame_id));
    std::string origin = state.origin_of(m_frame_id);
    bool foreign = !origin.empty() && !parent_origin.empty() && origin != parent_origin &&
                   state.url_of(m_frame_id) != "about:blank";
    return make_object<RemoteDocument>(m_page, m_frame_id, foreign ? origin : std::string());
}

void RemoteFrameWindow::set_location(const BStr& url)
{
    m_page->navigate(m_frame_id, protocol_text(url));
}

HandlePtr RemoteFrameWindow::window_handle()
{
    auto value = m_page->call([&] {
        return m_page->delegate().evaluate(m_page->realm_for(m_frame_id), std::string(scripts::kWindow), false);
    });
    return std::make_shared<const RemoteHandle>(m_page, value.handle);
}

Variant RemoteFrameWindow::get_property(std::u16string_view name)
{
    if (equals_ignoring_case(name, u"document"))
        return Ref<Dispatch>(document());
    if (equals_ignoring_case(name, u"frames"))
        return Ref<Dispatch>(make_object<RemoteFrames>(m_page, m_frame_id));
    return get_member(*this, *window_handle(), name);
}

void RemoteFrameWindow::put_property(std::u16string_view name, const Variant& value)
{
    if (equals_ignoring_case(name, u"location"))
        return set_location(to_bstr(value));
    put_member(*window_handle(), name, value);
}

Variant RemoteFrameWindow::call_method(std::u16string_view name, std::span<const Variant> args)
{
    return call_member(*window_handle(), name, args);
}

}  // namespace varne::page
