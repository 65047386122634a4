#pragma once

#include <span>
#include <string_view>

#include "frame/object.h"
#include "frame/variant.h"

namespace varne {

struct ClassDescriptor;

// An object that scripts reach by name (late binding). The library's five classes answer
// from their descriptor; object-model adapters (browser, workbook) answer any name they know.
class Dispatch : public Object {
public:
    // The descriptor of a library class; null for object-model objects.
    virtual const ClassDescriptor* class_descriptor() const noexcept { return nullptr; }
    // The interface of the object models that this object stands for ("HTMLDocument",
    // "IWebBrowser2"), so that a misplaced argument can be named; empty when not known.
    virtual std::string_view interface_name() const noexcept { return {}; }

    // Each of these fails with error 438 unless the object knows the name.
    virtual Variant get_property(std::u16string_view name);
    virtual void put_property(std::u16string_view name, const Variant& value);
    virtual Variant call_method(std::u16string_view name, std::span<const Variant> args);
    // The object called as a function: a collection's item, a method taken as a value.
    virtual Variant call_default(std::span<const Variant> args);

protected:
    Dispatch() = default;
};

[[noreturn]] void throw_not_supported(std::u16string_view name);

}  // namespace varne
