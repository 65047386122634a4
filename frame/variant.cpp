#include "frame/variant.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "frame/automation_date.h"
#include "frame/automation_error.h"
#include "frame/dispatch.h"

namespace varne {

bool operator==(const Variant& a, const Variant& b)
{
    return a.m_value == b.m_value;
}

namespace {

// Numbers are read and written with '.' whatever the C locale of the process says: a host
// program's setlocale must not change what a script's "1.5" means.
double parse_number(const BStr& text)
{
    std::string narrow = to_utf8(trim_spaces(text));
    const char* begin = narrow.data();
    const char* end = begin + narrow.size();
    // As the C library's reader: other white space may lead, and a sign.
    while (begin != end && std::string_view(" \t\n\v\f\r").find(*begin) != std::string_view::npos)
        ++begin;
    if (begin != end && *begin == '+' && (end - begin == 1 || begin[1] != '-'))
        ++begin;
    if (begin == end)
        throw AutomationError::type_mismatch();
    double value = 0;
    auto [stop, error] = std::from_chars(begin, end, value);
    if (error == std::errc::result_out_of_range)
        throw AutomationError::overflow();
    if (error != std::errc() || stop != end)
        throw AutomationError::type_mismatch();
    return value;
}

template <class Int>
Int to_integer(const Variant& value)
{
    switch (value.type()) {
    case VarType::Empty:
        return 0;
    case VarType::Bool:
        return value.boolean() ? Int(-1) : Int(0);
    case VarType::Null:
        throw AutomationError(error_number::kInvalidUseOfNull, "Invalid use of Null");
    case VarType::Object:
        throw AutomationError::type_mismatch();
    default:
        break;
    }
    double rounded = std::nearbyint(to_r8(value));  // the default rounding mode rounds half to even
    if (!(rounded >= std::numeric_limits<Int>::min() && rounded <= std::numeric_limits<Int>::max()))
        throw AutomationError::overflow();
    return static_cast<Int>(rounded);
}

BStr format_number(double number)
{
    if (number == std::trunc(number) && std::fabs(number) < 1e15)
        return from_utf8(std::to_string(static_cast<int64_t>(number)));
    char buffer[32];
    auto written = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::general, 15);
    return from_utf8(std::string_view(buffer, static_cast<size_t>(written.ptr - buffer)));
}

BStr format_date(double date)
{
    CivilTime t = to_civil_time(date);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return from_utf8(buffer);
}

}  // namespace

int16_t to_i2(const Variant& value)
{
    return to_integer<int16_t>(value);
}

int32_t to_i4(const Variant& value)
{
    return to_integer<int32_t>(value);
}

double to_r8(const Variant& value)
{
    switch (value.type()) {
    case VarType::I2:
        return value.i2();
    case VarType::I4:
        return value.i4();
    case VarType::R8:
        return value.r8();
    case VarType::Date:
        return value.date();
    case VarType::String:
        return parse_number(value.string());
    default:
        return to_i4(value);
    }
}

bool to_bool(const Variant& value)
{
    if (value.type() == VarType::String) {
        const auto& text = value.string();
        if (equals_ignoring_case(text, u"true"))
            return true;
        if (equals_ignoring_case(text, u"false"))
            return false;
    }
    return to_r8(value) != 0;
}

double to_date(const Variant& value)
{
    if (value.type() == VarType::Date)
        return value.date();
    if (value.type() == VarType::String)
        throw AutomationError::type_mismatch();
    return to_r8(value);
}

BStr to_bstr(const Variant& value)
{
    switch (value.type()) {
    case VarType::Empty:
        return {};
    case VarType::Null:
        throw AutomationError(error_number::kInvalidUseOfNull, "Invalid use of Null");
    case VarType::I2:
        return format_number(value.i2());
    case VarType::I4:
        return format_number(value.i4());
    case VarType::R8:
        return format_number(value.r8());
    case VarType::Bool:
        return value.boolean() ? u"True" : u"False";
    case VarType::String:
        return value.string();
    case VarType::Date:
        return format_date(value.date());
    case VarType::Object:
        break;
    }
    throw AutomationError::type_mismatch();
}

Ref<Dispatch> to_object(const Variant& value)
{
    switch (value.type()) {
    case VarType::Object:
        return value.object();
    case VarType::Empty:
    case VarType::Null:
        return nullptr;
    default:
        throw AutomationError::type_mismatch();
    }
}

}  // namespace varne
