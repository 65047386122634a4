#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "dom/object_model.h"
#include "page/remote_objects.h"

// What the remote objects share in building their calls into the page.
namespace varne::page {

CallArgument text_argument(std::u16string_view text);
CallArgument number_argument(double number);
// A script's argument for the page; an object must be one of the same page.
CallArgument call_argument(const PagePtr& page, const Variant& value);
// The member's name, then the script's arguments.
std::vector<CallArgument> call_arguments(const PagePtr& page, std::u16string_view name, std::span<const Variant> args);
// The name of a property that the library reads itself, as the page scripts take it.
CallArgument property_argument(dom::ElementProperty property);

// Raises the error of a document object whose frame has gone on to another document.
[[noreturn]] void throw_stale();

}  // namespace varne::page
