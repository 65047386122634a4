#include "platform/windows/com/dispatch_functions.h"

#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

#include "frame/automation_error.h"
#include "frame/bound_method.h"
#include "frame/late_binding.h"
#include "platform/windows/com/com_enumerator.h"
#include "platform/windows/com/com_module.h"
#include "platform/windows/com/com_object.h"
#include "platform/windows/com/error_report.h"
#include "platform/windows/com/name_table.h"
#include "platform/windows/com/typed_page_null.h"
#include "platform/windows/com/variant_conversion.h"

namespace varne::com {

namespace {

// The named argument by which scripts may pass their `this` (DISPID_THIS of dispex.h).
constexpr DISPID kDispatchThis = -613;

HRESULT STDMETHODCALLTYPE get_type_info_count(ComObject* self, UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = self->cls ? 1 : 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE get_type_info(ComObject* self, UINT index, LCID, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (!self->cls || index != 0)
        return DISP_E_BADINDEX;
    ITypeLib* library = nullptr;
    HRESULT result = LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, &library);
    if (FAILED(result))
        return result;
    result = library->GetTypeInfoOfGuid(to_iid(self->cls->interface_id), info);
    library->Release();
    return result;
}

// The name by which a client may ask a collection for its enumerator, as it may by DISPID_NEWENUM.
constexpr std::u16string_view kNewEnumName = u"_NewEnum";

std::u16string_view view(const OLECHAR* text)
{
    return text ? std::u16string_view(reinterpret_cast<const char16_t*>(text)) : std::u16string_view();
}

HRESULT STDMETHODCALLTYPE get_ids_of_names(ComObject* self, REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    if (equals_ignoring_case(view(names[0]), kNewEnumName)) {
        ids[0] = DISPID_NEWENUM;
        for (UINT i = 1; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    if (!self->cls) {
        ids[0] = object_model_names().id_of(view(names[0]));
        for (UINT i = 1; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    const MemberDescriptor* member = find_member(*self->cls, view(names[0]));
    HRESULT result = S_OK;
    ids[0] = member ? static_cast<DISPID>(member - self->cls->members.data()) + 1 : DISPID_UNKNOWN;
    if (!member)
        result = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (size_t p = 0; member && p < member->params.size(); ++p) {
            if (equals_ignoring_case(member->params[p].name, view(names[i])))
                ids[i] = static_cast<DISPID>(p);
        }
        if (ids[i] == DISPID_UNKNOWN)
            result = DISP_E_UNKNOWNNAME;
    }
    return result;
}

bool is_omitted(const VARIANTARG& value)
{
    return value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND;
}

// A call on a library class: positional arguments up to the first one left out, every later one
// by its parameter's name, so that any argument left out takes its default.
Variant invoke_library_member(ComObject* self, DISPID id, const DISPPARAMS& params)
{
    if (id < 1 || static_cast<size_t>(id) > self->cls->members.size())
        throw AutomationError(error_number::kNotSupported,
                              "Object doesn't support this property or method: dispatch id " + std::to_string(id));
    const MemberDescriptor& member = self->cls->members[static_cast<size_t>(id) - 1];
    const UINT positional = params.cArgs - params.cNamedArgs;
    std::vector<Variant> args;
    std::vector<Variant> named_values;
    std::vector<std::u16string_view> named_names;
    bool gap = false;
    for (UINT i = 0; i < positional; ++i) {
        const VARIANTARG& value = params.rgvarg[params.cArgs - 1 - i];
        if (is_omitted(value)) {
            gap = true;
            continue;
        }
        if (!gap) {
            args.push_back(from_com(value));
        } else if (i < member.params.size()) {
            named_names.push_back(member.params[i].name);
            named_values.push_back(from_com(value));
        } else {
            throw AutomationError(error_number::kWrongArgumentCount,
                                  "Wrong number of arguments or invalid property assignment: " + to_utf8(member.name));
        }
    }
    for (UINT i = 0; i < params.cNamedArgs; ++i) {
        DISPID param = params.rgdispidNamedArgs[i];
        if (param == kDispatchThis)  // the calling script's `this`, which no member takes
            continue;
        if (param < 0 || static_cast<size_t>(param) >= member.params.size())
            throw AutomationError(error_number::kNamedArgumentNotFound, "Named argument not found");
        if (is_omitted(params.rgvarg[i]))
            continue;
        named_names.push_back(member.params[static_cast<size_t>(param)].name);
        named_values.push_back(from_com(params.rgvarg[i]));
    }
    std::vector<NamedArgument> named;
    for (size_t i = 0; i < named_names.size(); ++i)
        named.push_back({named_names[i], named_values[i]});
    return invoke(*self->target, member.name, args, named);
}

// A call on an object of the browser's or the spreadsheet's object model, by the member's name.
Variant invoke_object_model(ComObject* self, DISPID id, WORD flags, const DISPPARAMS& params)
{
    std::vector<Variant> args;
    for (UINT i = 0; i < params.cArgs - params.cNamedArgs; ++i) {
        const VARIANTARG& value = params.rgvarg[params.cArgs - 1 - i];
        args.push_back(is_omitted(value) ? Variant() : from_com(value));
    }
    Dispatch& target = *self->target;
    if (id == DISPID_VALUE)
        return typed_page_null({}, call_default(target, args));
    BStr name;
    if (!object_model_names().name_of(id, name))
        throw AutomationError(error_number::kNotSupported,
                              "Object doesn't support this property or method: dispatch id " + std::to_string(id));
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (params.cNamedArgs != 1 || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT || params.cArgs != 1)
            throw AutomationError(error_number::kWrongArgumentCount,
                                  "Wrong number of arguments or invalid property assignment: " + to_utf8(name));
        put_property(target, name, from_com(params.rgvarg[0]));
        return {};
    }
    if (params.cNamedArgs != 0 && !(params.cNamedArgs == 1 && params.rgdispidNamedArgs[0] == kDispatchThis))
        throw AutomationError(error_number::kNamedArgumentNotFound,
                              "Named arguments are not supported by " + to_utf8(name));
    if (!(flags & DISPATCH_PROPERTYGET))
        return typed_page_null(name, invoke(target, name, args));
    // A read, or a script's `collection.item(0)` and `document.forms(0)`: read the member, then
    // call what it gave with the arguments (a method read as a value calls the method). VBScript
    // asks for a read and a call at once in `x = element.getAttributeNames()`: a method is called.
    Variant value = get_property(target, name);
    const bool method = value.type() == VarType::Object && dynamic_cast<BoundMethod*>(value.object().get());
    if (args.empty() && !(method && (flags & DISPATCH_METHOD)))
        return typed_page_null(name, std::move(value));
    Ref<Dispatch> object = to_object(value);
    if (!object)
        throw AutomationError(error_number::kObjectRequired, "Object required: " + to_utf8(name));
    // A method called gives its own result; anything else called gives its default member's.
    return typed_page_null(method ? std::u16string_view(name) : std::u16string_view(), call_default(*object, args));
}

// For Each and JScript's Enumerator: the collection's items, walked as they were when it was asked.
HRESULT hand_out_enumerator(ComObject* self, VARIANT* result)
{
    IUnknown* enumerator = new_enumerator(*self->target);
    if (!result) {
        enumerator->Release();
        return S_OK;
    }
    result->vt = VT_UNKNOWN;
    result->punkVal = enumerator;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE invoke_dispatch(ComObject* self, DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                          VARIANT* result, EXCEPINFO* info, UINT* argument_error)
{
    if (argument_error)
        *argument_error = 0;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const DISPPARAMS& given = params ? *params : none;
    if (given.cNamedArgs > given.cArgs)
        return E_INVALIDARG;
    if (result)
        VariantInit(result);
    try {
        if (id == DISPID_NEWENUM && (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
            return hand_out_enumerator(self, result);
        Variant value;
        const TypeDescriptor* declared = nullptr;
        if (self->cls) {
            value = invoke_library_member(self, id, given);
            declared = &self->cls->members[static_cast<size_t>(id) - 1].result;
        } else {
            value = invoke_object_model(self, id, flags, given);
        }
        if (result)
            to_com(value, declared, result);
        return S_OK;
    } catch (...) {
        return report_failure(self->cls, info);
    }
}

}  // namespace

const void* const kDispatchFunctions[kDispatchFunctionCount] = {
    reinterpret_cast<const void*>(&query_interface), reinterpret_cast<const void*>(&add_ref),
    reinterpret_cast<const void*>(&release),         reinterpret_cast<const void*>(&get_type_info_count),
    reinterpret_cast<const void*>(&get_type_info),   reinterpret_cast<const void*>(&get_ids_of_names),
    reinterpret_cast<const void*>(&invoke_dispatch),
};

}  // namespace varne::com
