#include "page/remote_objects.h"

#include <cmath>
#include <limits>

#include "frame/automation_error.h"
#include "frame/bound_method.h"
#include "page/page_scripts.h"
#include "page/page_text.h"
#include "page/remote_arguments.h"

namespace varne::page {

namespace {

constexpr const char* kNoMember = "varne:no-member:";

// In the order of dom::ElementProperty.
constexpr const char* kPropertyNames[] = {"innerText", "alt", "nameProp", "name", "type", "value"};

const char* property_name(dom::ElementProperty property)
{
    return kPropertyNames[static_cast<size_t>(property)];
}

HandlePtr handle_of(Dispatch& object)
{
    if (auto* remote = dynamic_cast<RemoteObject*>(&object))
        return remote->handle();
    if (auto* element = dynamic_cast<RemoteElement*>(&object))
        return element->handle();
    if (auto* document = dynamic_cast<RemoteDocument*>(&object))
        return document->handle();
    return nullptr;
}

bool is_collection(const RemoteValue& value)
{
    static const char* const kCollections[] = {
        "HTMLCollection",        "HTMLAllCollection", "NodeList", "HTMLFormControlsCollection",
        "HTMLOptionsCollection", "RadioNodeList"};
    if (value.subtype == "array")
        return true;
    for (const char* name : kCollections) {
        if (value.class_name == name)
            return true;
    }
    return false;
}

}  // namespace

CallArgument text_argument(std::u16string_view text)
{
    return CallArgument::of(protocol_text(text));
}

CallArgument number_argument(double number)
{
    return CallArgument::of(number);
}

CallArgument property_argument(dom::ElementProperty property)
{
    return CallArgument::of(std::string(property_name(property)));
}

CallArgument call_argument(const PagePtr& page, const Variant& value)
{
    switch (value.type()) {
    case VarType::Empty:
        return {};
    case VarType::Null:
        return CallArgument::null_value();
    case VarType::Bool:
        return CallArgument::of(value.boolean());
    case VarType::I2:
    case VarType::I4:
    case VarType::R8:
        return number_argument(to_r8(value));
    case VarType::String:
    case VarType::Date:
        return text_argument(to_bstr(value));
    case VarType::Object: {
        if (!value.object())
            return CallArgument::null_value();
        HandlePtr handle = handle_of(*value.object());
        if (!handle || handle->page() != page)
            throw AutomationError(error_number::kTypeMismatch,
                                  "Type mismatch: only objects of the same page can be passed into it");
        return CallArgument::object(handle->id());
    }
    }
    return {};
}

std::vector<CallArgument> call_arguments(const PagePtr& page, std::u16string_view name, std::span<const Variant> args)
{
    std::vector<CallArgument> arguments{text_argument(name)};
    for (const auto& arg : args)
        arguments.push_back(call_argument(page, arg));
    return arguments;
}

void throw_stale()
{
    throw AutomationError(error_number::kObjectDisconnected,
                          "The object invoked has disconnected from its clients: the frame has gone on to another "
                          "document");
}

RemoteHandle::RemoteHandle(PagePtr page, std::string handle) : m_page(std::move(page)), m_id(std::move(handle)) {}

RemoteHandle::~RemoteHandle()
{
    if (!m_id.empty())
        m_page->release_object(m_id);
}

RemoteValue RemoteHandle::run(std::string_view declaration, const std::vector<CallArgument>& arguments, bool by_value,
                              bool user_gesture) const
{
    m_page->check_page_free();
    try {
        auto result = m_page->call([&] {
            return m_page->delegate().call_function(m_id, std::string(declaration), arguments, by_value, user_gesture);
        });
        return result ? *result : RemoteValue{};
    } catch (const AutomationError& error) {
        auto marker = error.description().find(kNoMember);
        if (marker == std::string::npos)
            throw;
        std::string name = error.description().substr(marker + std::char_traits<char>::length(kNoMember));
        throw_not_supported(page_text(name.substr(0, name.find_first_of("\n\r"))));
    }
}

RemoteValue RemoteHandle::task(std::string_view name, std::vector<CallArgument> arguments, bool by_value,
                               bool user_gesture) const
{
    arguments.insert(arguments.begin(), CallArgument::of(std::string(name)));
    return run(scripts::kObjectTask, arguments, by_value, user_gesture);
}

Variant to_variant(const PagePtr& page, const RemoteValue& value)
{
    using Kind = RemoteValue::Kind;
    switch (value.kind) {
    case Kind::Undefined:
        return {};
    case Kind::Null:
        return Variant::Null{};
    case Kind::Boolean:
        return value.boolean;
    case Kind::Number:
        if (value.number == std::trunc(value.number) && value.number >= std::numeric_limits<int32_t>::min() &&
            value.number <= std::numeric_limits<int32_t>::max())
            return static_cast<int32_t>(value.number);
        return value.number;
    case Kind::String:
    case Kind::Other:
        return page_text(value.text);
    case Kind::StringList: {
        BStr joined;
        for (const auto& item : value.items)
            joined += (joined.empty() ? u"" : u",") + page_text(item.value_or(""));
        return joined;
    }
    case Kind::Function:
    case Kind::Object:
        break;
    }
    auto handle = std::make_shared<const RemoteHandle>(page, value.handle);
    if (value.subtype == "node") {
        if (value.class_name == "HTMLDocument" || value.class_name == "Document" || value.class_name == "XMLDocument")
            return Ref<Dispatch>(make_object<RemoteDocument>(handle));
        return Ref<Dispatch>(make_object<RemoteElement>(handle));
    }
    if (is_collection(value))
        return Ref<Dispatch>(make_object<RemoteCollection>(handle, CollectionSource{"self", {}}));
    return Ref<Dispatch>(make_object<RemoteObject>(handle));
}

Variant get_member(Dispatch& self, const RemoteHandle& handle, std::u16string_view name)
{
    auto value = handle.task("get", {text_argument(name)}, false);
    if (value.kind == RemoteValue::Kind::Function)
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(&self), BStr(name)));
    return to_variant(handle.page(), value);
}

void put_member(const RemoteHandle& handle, std::u16string_view name, const Variant& value)
{
    handle.task("put", {text_argument(name), call_argument(handle.page(), value)});
}

Variant call_member(const RemoteHandle& handle, std::u16string_view name, std::span<const Variant> args)
{
    auto value = handle.task("call", call_arguments(handle.page(), name, args), false, true);
    return to_variant(handle.page(), value);
}

Variant call_object(const RemoteHandle& handle, std::span<const Variant> args)
{
    std::vector<CallArgument> arguments;
    for (const auto& arg : args)
        arguments.push_back(call_argument(handle.page(), arg));
    return to_variant(handle.page(), handle.task("default", std::move(arguments), false));
}

}  // namespace varne::page
