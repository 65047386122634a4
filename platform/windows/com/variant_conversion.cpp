#include "platform/windows/com/variant_conversion.h"

#include <new>

#include "frame/automation_error.h"
#include "platform/windows/com/com_object.h"

namespace varne::com {

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

}  // namespace varne::com
