#include "platform/windows/com/dual_vtable.h"

#include <oaidl.h>

#include <array>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dual_interface_extent.h"
#include "frame/automation_error.h"
#include "frame/late_binding.h"
#include "frame/type_library.h"
#include "platform/windows/com/com_object.h"
#include "platform/windows/com/dispatch_functions.h"
#include "platform/windows/com/error_report.h"
#include "platform/windows/com/variant_conversion.h"

namespace varne::com {

namespace {

// The dual interface's own members: the client passes a pointer per parameter (a string with a
// default by value, as the type library declares it), then the result's pointer.
Variant from_pointer(const ParamDescriptor& param, void* pointer)
{
    if (passed_by_value(param)) {
        BSTR text = static_cast<BSTR>(pointer);
        return text ? BStr(reinterpret_cast<const char16_t*>(text)) : BStr();
    }
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

// entry_table()[slot][n]: the entry of member `slot` taking n words. Its size is the descriptor
// table's own extent, written by the build, so every member of every class has its entry.
template <size_t... Slot>
std::array<std::array<const void*, kDualInterfaceArguments + 1>, sizeof...(Slot)>
entry_table(std::index_sequence<Slot...>)
{
    return {entries_of_slot<Slot>(std::make_index_sequence<kDualInterfaceArguments + 1>{})...};
}

}  // namespace

const void* const* dual_vtable(const ClassDescriptor& cls)
{
    static const auto tables = [] {
        static const auto entries = entry_table(std::make_index_sequence<kDualInterfaceMembers>{});
        std::unordered_map<const ClassDescriptor*, std::vector<const void*>> all;
        for (const auto& each : library_descriptor().classes) {
            std::vector<const void*> table(std::begin(kDispatchFunctions), std::end(kDispatchFunctions));
            for (size_t slot = 0; slot < each.members.size(); ++slot)
                table.push_back(entries.at(slot).at(dual_interface_arguments(each.members[slot])));
            all.emplace(&each, std::move(table));
        }
        return all;
    }();
    return tables.at(&cls).data();
}

}  // namespace varne::com
