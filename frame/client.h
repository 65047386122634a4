#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "frame/dispatch.h"
#include "frame/text.h"
#include "frame/variant.h"

namespace varne {

// Helpers for client programs that walk the objects the library hands out (the browser
// application, documents, frames, forms, the spreadsheet's sheets and cells) by name, as a
// script does. What Python writes as `page.forms.item(0).name` reads here as
// get_text(get_item(get_object(page, u"forms"), 0), u"name").
//
// Each raises AutomationError 424 ("Object required: <name>") when given the null reference,
// and passes the object's own failure through unchanged (438 for a name it does not know).

// Reads a property that holds an object: get_object(browser->GetBrowser(), u"Document").
// A property holding no object gives the null reference; any other value is error 13.
Ref<Dispatch> get_object(const Ref<Dispatch>& object, std::u16string_view property);

// Reads a property as text, converted as a script would (numbers in digits, booleans as
// "True"/"False").
BStr get_text(const Ref<Dispatch>& object, std::u16string_view property);

// Writes a property: put_property(field, u"value", "alice").
void put_property(const Ref<Dispatch>& object, std::u16string_view property, const Variant& value);

// Calls a method by name with positional arguments: call(page, u"getElementById", {u"out"}).
Variant call(const Ref<Dispatch>& object, std::u16string_view method, std::initializer_list<Variant> args = {});

// Takes one item of a collection, as calling the collection does in a script: by position
// (from 0 for page collections, from 1 for the spreadsheet's) or by name:
// get_item(get_object(form, u"elements"), u"user").
Ref<Dispatch> get_item(const Ref<Dispatch>& collection, const Variant& key);

// The version of the loaded library ("1.0.0.14"); kVersion is that of the headers.
std::string_view library_version() noexcept;

}  // namespace varne
