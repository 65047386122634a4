#include "platform/windows/com/com_object.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "frame/automation_error.h"
#include "frame/bound_method.h"
#include "frame/late_binding.h"
#include "frame/type_library.h"
#include "platform/windows/com/com_enumerator.h"
#include "platform/windows/com/com_module.h"

namespace varne::com {

namespace {

// The named argument by which scripts may pass their `this` (DISPID_THIS of dispex.h).
constexpr DISPID kDispatchThis = -613;

// One COM object: the first word is the interface's function table (IDispatch, or the class's
// dual interface), the second that of ISupportErrorInfo. The functions below take the object
// itself as `this`.
struct ComObject {
    const void* const* vtable;
    const void* const* error_vtable;
    std::atomic<ULONG> references;
    Ref<Dispatch> target;
    const ClassDescriptor* cls;
};

std::mutex g_identities_mutex;
std::unordered_map<Dispatch*, ComObject*>& identities()
{
    static std::unordered_map<Dispatch*, ComObject*> map;
    return map;
}

ComObject* from_error_interface(void* pointer)
{
    return reinterpret_cast<ComObject*>(static_cast<char*>(pointer) - offsetof(ComObject, error_vtable));
}

bool is_interface_of(const ComObject* self, REFIID iid)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch))
        return true;
    return self->cls && IsEqualIID(iid, to_iid(self->cls->interface_id));
}

// IUnknown

HRESULT STDMETHODCALLTYPE query_interface(ComObject* self, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (is_interface_of(self, iid)) {
        *out = self;
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
        *out = &self->error_vtable;
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    self->references.fetch_add(1);
    return S_OK;
}

ULONG STDMETHODCALLTYPE add_ref(ComObject* self)
{
    return self->references.fetch_add(1) + 1;
}

ULONG STDMETHODCALLTYPE release(ComObject* self)
{
    {
        std::lock_guard lock(g_identities_mutex);
        ULONG left = self->references.fetch_sub(1) - 1;
        if (left != 0)
            return left;
        identities().erase(self->target.get());
    }
    delete self;  // releases the library object, which may run its release step
    return 0;
}

// IDispatch

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

// Names of object-model members get dispatch ids of their own, the same for every object.
class NameTable {
public:
    DISPID id_of(std::u16string_view name)
    {
        std::lock_guard lock(m_mutex);
        BStr key = to_upper(name);
        auto found = m_ids.find(key);
        if (found != m_ids.end())
            return found->second;
        m_names.emplace_back(name);
        DISPID id = kFirstId + static_cast<DISPID>(m_names.size()) - 1;
        m_ids.emplace(std::move(key), id);
        return id;
    }

    bool name_of(DISPID id, BStr& name)
    {
        std::lock_guard lock(m_mutex);
        if (id < kFirstId || static_cast<size_t>(id - kFirstId) >= m_names.size())
            return false;
        name = m_names[static_cast<size_t>(id - kFirstId)];
        return true;
    }

private:
    static constexpr DISPID kFirstId = 1000;
    std::mutex m_mutex;
    std::vector<BStr> m_names;
    std::unordered_map<BStr, DISPID> m_ids;
};

NameTable& object_model_names()
{
    static NameTable table;
    return table;
}

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
        return call_default(target, args);
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
        return invoke(target, name, args);
    // A read, or a script's `collection.item(0)` and `document.forms(0)`: read the member, then
    // call what it gave with the arguments (a method read as a value calls the method). VBScript
    // asks for a read and a call at once in `x = element.getAttributeNames()`: a method is called.
    Variant value = get_property(target, name);
    const bool method = value.type() == VarType::Object && dynamic_cast<BoundMethod*>(value.object().get());
    if (args.empty() && !(method && (flags & DISPATCH_METHOD)))
        return value;
    Ref<Dispatch> object = to_object(value);
    if (!object)
        throw AutomationError(error_number::kObjectRequired, "Object required: " + to_utf8(name));
    return call_default(*object, args);
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

// ISupportErrorInfo

HRESULT STDMETHODCALLTYPE error_query_interface(void* pointer, REFIID iid, void** out)
{
    return query_interface(from_error_interface(pointer), iid, out);
}

ULONG STDMETHODCALLTYPE error_add_ref(void* pointer)
{
    return add_ref(from_error_interface(pointer));
}

ULONG STDMETHODCALLTYPE error_release(void* pointer)
{
    return release(from_error_interface(pointer));
}

HRESULT STDMETHODCALLTYPE interface_supports_error_info(void* pointer, REFIID iid)
{
    return is_interface_of(from_error_interface(pointer), iid) ? S_OK : S_FALSE;
}

const void* const kErrorVtable[] = {
    reinterpret_cast<const void*>(&error_query_interface),
    reinterpret_cast<const void*>(&error_add_ref),
    reinterpret_cast<const void*>(&error_release),
    reinterpret_cast<const void*>(&interface_supports_error_info),
};

// The dual interface's own members: the client passes a pointer per parameter (a string with a
// default by value, as the type library declares it), then the result's pointer.
Variant from_pointer(const ParamDescriptor& param, void* pointer)
{
    if (passed_by_value(param))
        return BStr(view(static_cast<BSTR>(pointer)));
    switch (param.type.kind) {
    case ValueType::I2:
        return *static_cast<short*>(pointer);
    case ValueType::I4:
    case ValueType::Enum:
        return int32_t(*static_cast<LONG*>(pointer));
    case ValueType::Bool:
        return *static_cast<VARIANT_BOOL*>(pointer) != VARIANT_FALSE;
    case ValueType::String: {
        BSTR text = *static_cast<BSTR*>(pointer);
        return BStr(reinterpret_cast<const char16_t*>(text), text ? SysStringLen(text) : 0);
    }
    case ValueType::Object: {
        IDispatch* object = *static_cast<IDispatch**>(pointer);
        Ref<Dispatch> inner = unwrap(object);
        if (object && !inner)
            throw AutomationError::type_mismatch();
        return inner;
    }
    case ValueType::Variant:
    case ValueType::None:
        break;
    }
    return from_com(*static_cast<VARIANT*>(pointer));
}

void write_result(const TypeDescriptor& type, const Variant& value, void* pointer)
{
    switch (type.kind) {
    case ValueType::I2:
        *static_cast<short*>(pointer) = to_i2(value);
        return;
    case ValueType::I4:
    case ValueType::Enum:
        *static_cast<LONG*>(pointer) = to_i4(value);
        return;
    case ValueType::Bool:
        *static_cast<VARIANT_BOOL*>(pointer) = to_bool(value) ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    case ValueType::String: {
        BStr text = to_bstr(value);
        *static_cast<BSTR*>(pointer) =
            SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
        return;
    }
    case ValueType::Object:
        *static_cast<IDispatch**>(pointer) = wrap(to_object(value));
        return;
    case ValueType::Variant:
        VariantInit(static_cast<VARIANT*>(pointer));
        to_com(value, &type, static_cast<VARIANT*>(pointer));
        return;
    case ValueType::None:
        return;
    }
}

HRESULT call_through_table(ComObject* self, size_t slot, void* const* pointers)
{
    const MemberDescriptor& member = self->cls->members[slot];
    void* result = member.result.kind == ValueType::None ? nullptr : pointers[member.params.size()];
    if (member.result.kind != ValueType::None && !result)
        return E_POINTER;
    try {
        std::vector<Variant> args;
        std::vector<NamedArgument> named;
        bool gap = false;
        for (size_t i = 0; i < member.params.size(); ++i) {
            // A null pointer for an optional parameter leaves it out.
            bool omitted = !pointers[i] && member.params[i].default_value && !passed_by_value(member.params[i]);
            if (!pointers[i] && !omitted && !passed_by_value(member.params[i]))
                return E_POINTER;
            if (omitted) {
                gap = true;
                continue;
            }
            Variant value = from_pointer(member.params[i], pointers[i]);
            if (gap)
                named.push_back({member.params[i].name, std::move(value)});
            else
                args.push_back(std::move(value));
        }
        Variant value = invoke(*self->target, member.name, args, named);
        if (result)
            write_result(member.result, value, result);
        return S_OK;
    } catch (...) {
        return report_failure(self->cls, nullptr);
    }
}

template <size_t>
using AnyPointer = void*;

template <size_t Slot, size_t... Index>
HRESULT STDMETHODCALLTYPE member_entry(ComObject* self, AnyPointer<Index>... pointers)
{
    void* const all[] = {pointers..., nullptr};
    return call_through_table(self, Slot, all);
}

constexpr size_t kMaxMembers = 24;
constexpr size_t kMaxPointers = 8;

template <size_t Slot, size_t... Index>
const void* entry_of(std::index_sequence<Index...>)
{
    return reinterpret_cast<const void*>(&member_entry<Slot, Index...>);
}

template <size_t Slot, size_t... Arity>
std::array<const void*, sizeof...(Arity)> entries_of_slot(std::index_sequence<Arity...>)
{
    return {entry_of<Slot>(std::make_index_sequence<Arity>{})...};
}

// entry_table()[slot][n]: the entry of member `slot` taking n pointers.
template <size_t... Slot>
std::array<std::array<const void*, kMaxPointers + 1>, sizeof...(Slot)> entry_table(std::index_sequence<Slot...>)
{
    return {entries_of_slot<Slot>(std::make_index_sequence<kMaxPointers + 1>{})...};
}

const void* const kDispatchEntries[] = {
    reinterpret_cast<const void*>(&query_interface), reinterpret_cast<const void*>(&add_ref),
    reinterpret_cast<const void*>(&release),         reinterpret_cast<const void*>(&get_type_info_count),
    reinterpret_cast<const void*>(&get_type_info),   reinterpret_cast<const void*>(&get_ids_of_names),
    reinterpret_cast<const void*>(&invoke_dispatch),
};

// The function table of a class's dual interface: IDispatch's seven, then a member's entry per
// member, in interface order.
const void* const* dual_vtable(const ClassDescriptor& cls)
{
    static const auto tables = [] {
        static const auto entries = entry_table(std::make_index_sequence<kMaxMembers>{});
        std::unordered_map<const ClassDescriptor*, std::vector<const void*>> all;
        for (const auto& each : library_descriptor().classes) {
            std::vector<const void*> table(std::begin(kDispatchEntries), std::end(kDispatchEntries));
            for (size_t slot = 0; slot < each.members.size() && slot < kMaxMembers; ++slot) {
                const auto& member = each.members[slot];
                size_t pointers = member.params.size() + (member.result.kind == ValueType::None ? 0 : 1);
                table.push_back(pointers <= kMaxPointers ? entries[slot][pointers] : nullptr);
            }
            all.emplace(&each, std::move(table));
        }
        return all;
    }();
    return tables.at(&cls).data();
}

}  // namespace

IDispatch* wrap(const Ref<Dispatch>& object)
{
    if (!object)
        return nullptr;
    std::lock_guard lock(g_identities_mutex);
    auto& map = identities();
    if (auto found = map.find(object.get()); found != map.end()) {
        found->second->references.fetch_add(1);
        return reinterpret_cast<IDispatch*>(found->second);
    }
    const ClassDescriptor* cls = object->class_descriptor();
    auto* created = new ComObject{cls ? dual_vtable(*cls) : kDispatchEntries, kErrorVtable, 1, object, cls};
    map.emplace(object.get(), created);
    return reinterpret_cast<IDispatch*>(created);
}

Ref<Dispatch> unwrap(IUnknown* object)
{
    if (!object)
        return nullptr;
    IUnknown* identity = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
        return nullptr;
    Ref<Dispatch> found;
    {
        std::lock_guard lock(g_identities_mutex);
        for (const auto& [dispatch, com] : identities()) {
            if (reinterpret_cast<IUnknown*>(com) == identity)
                found = Ref<Dispatch>(dispatch);
        }
    }
    identity->Release();
    return found;
}

Variant from_com(const VARIANT& given)
{
    const VARIANT* value = &given;
    while (value->vt == (VT_VARIANT | VT_BYREF) && value->pvarVal)
        value = value->pvarVal;
    VARIANT plain;
    VariantInit(&plain);
    if (value->vt & VT_BYREF) {
        if (FAILED(VariantCopyInd(&plain, const_cast<VARIANT*>(value))))
            throw AutomationError::type_mismatch();
        value = &plain;
    }
    struct Clear {
        VARIANT* v;
        ~Clear() { VariantClear(v); }
    } clear{&plain};
    switch (value->vt) {
    case VT_EMPTY:
        return {};
    case VT_NULL:
        return Variant::Null{};
    case VT_I2:
        return int16_t(value->iVal);
    case VT_I4:
        return int32_t(value->lVal);
    case VT_INT:
        return int32_t(value->intVal);
    case VT_R8:
        return value->dblVal;
    case VT_R4:
        return double(value->fltVal);
    case VT_BOOL:
        return value->boolVal != VARIANT_FALSE;
    case VT_DATE:
        return Variant::Date{value->date};
    case VT_BSTR:
        return BStr(reinterpret_cast<const char16_t*>(value->bstrVal),
                    value->bstrVal ? SysStringLen(value->bstrVal) : 0);
    case VT_DISPATCH:
    case VT_UNKNOWN: {
        IUnknown* object = value->vt == VT_DISPATCH ? value->pdispVal : value->punkVal;
        Ref<Dispatch> inner = unwrap(object);
        if (object && !inner)
            throw AutomationError(error_number::kTypeMismatch, "Type mismatch: an object of another library");
        return inner;
    }
    case VT_ERROR:
        if (value->scode == DISP_E_PARAMNOTFOUND)
            return {};
        break;
    default: {
        VARIANT number;
        VariantInit(&number);
        if (!(value->vt & VT_ARRAY) && SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(value), 0, VT_R8)))
            return number.dblVal;
        break;
    }
    }
    throw AutomationError::type_mismatch();
}

void to_com(const Variant& value, const TypeDescriptor* declared, VARIANT* out)
{
    VariantInit(out);
    if (declared && declared->kind == ValueType::Bool) {
        out->vt = VT_BOOL;
        out->boolVal = to_bool(value) ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    }
    switch (value.type()) {
    case VarType::Empty:
        return;
    case VarType::Null:
        out->vt = VT_NULL;
        return;
    case VarType::I2:
        out->vt = VT_I2;
        out->iVal = value.i2();
        return;
    case VarType::I4:
        out->vt = VT_I4;
        out->lVal = value.i4();
        return;
    case VarType::R8:
        out->vt = VT_R8;
        out->dblVal = value.r8();
        return;
    case VarType::Bool:
        out->vt = VT_BOOL;
        out->boolVal = value.boolean() ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    case VarType::String: {
        const BStr& text = value.string();
        out->vt = VT_BSTR;
        out->bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
        if (!out->bstrVal)
            throw std::bad_alloc();
        return;
    }
    case VarType::Date:
        out->vt = VT_DATE;
        out->date = value.date();
        return;
    case VarType::Object:
        out->vt = VT_DISPATCH;
        out->pdispVal = wrap(value.object());
        return;
    }
}

HRESULT error_result(int32_t number) noexcept
{
    if (number > 0 && number <= 0xFFFF)
        return static_cast<HRESULT>(0x800A0000u | static_cast<uint32_t>(number));
    return static_cast<HRESULT>(number);
}

HRESULT report_failure(const ClassDescriptor* cls, EXCEPINFO* info) noexcept
{
    HRESULT code = E_FAIL;
    BStr description;
    try {
        throw;
    } catch (const AutomationError& error) {
        code = error_result(error.number());
        description = from_utf8(error.description());
    } catch (const std::bad_alloc&) {
        code = E_OUTOFMEMORY;
        description = u"Out of memory";
    } catch (const std::exception& error) {
        description = from_utf8(error.what());
    } catch (...) {
        description = u"Unspecified error";
    }
    const BStr source = cls ? BStr(cls->prog_id) : BStr(library_descriptor().name);
    auto text = [](const BStr& s) { return reinterpret_cast<const OLECHAR*>(s.c_str()); };
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetSource(const_cast<LPOLESTR>(text(source)));
        create->SetDescription(const_cast<LPOLESTR>(text(description)));
        if (cls)
            create->SetGUID(to_iid(cls->interface_id));
        IErrorInfo* error_info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&error_info)))) {
            SetErrorInfo(0, error_info);
            error_info->Release();
        }
        create->Release();
    }
    if (!info)
        return code;
    *info = EXCEPINFO{};
    info->bstrSource = SysAllocString(text(source));
    info->bstrDescription = SysAllocString(text(description));
    info->scode = code;
    return DISP_E_EXCEPTION;
}

}  // namespace varne::com
