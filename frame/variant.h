#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "frame/object.h"
#include "frame/text.h"

namespace varne {

class Dispatch;

enum class VarType { Empty, Null, I2, I4, R8, Bool, String, Date, Object };

// The automation variant: a tagged value that crosses the late-binding boundary.
class Variant {
public:
    struct Null {
        friend bool operator==(Null, Null) = default;
    };
    struct Date {
        double value;
        friend bool operator==(Date, Date) = default;
    };

    Variant() noexcept = default;
    Variant(Null) noexcept : m_value(Null{}) {}
    // nullptr is the null object reference (Nothing), as in put_property(element, u"onclick", nullptr).
    Variant(std::nullptr_t) : m_value(Ref<Dispatch>()) {}
    Variant(int16_t value) noexcept : m_value(value) {}
    Variant(int32_t value) noexcept : m_value(value) {}
    Variant(double value) noexcept : m_value(value) {}
    // Only a bool is a boolean: a pointer (a narrow string literal above all) would otherwise
    // convert to true.
    template <std::same_as<bool> Bool>
    Variant(Bool value) noexcept : m_value(bool{value})
    {
    }
    Variant(Date value) noexcept : m_value(value) {}
    Variant(BStr value) : m_value(std::move(value)) {}
    // A null pointer is the empty string, as an absent automation string is.
    Variant(const char16_t* value) : m_value(value ? BStr(value) : BStr()) {}
    // Narrow text is UTF-8: put_property(field, u"value", "alice") stores the string "alice".
    Variant(const char* value) : m_value(value ? from_utf8(value) : BStr()) {}
    Variant(std::string_view value) : m_value(from_utf8(value)) {}
    Variant(const std::string& value) : m_value(from_utf8(value)) {}
    Variant(Ref<Dispatch> value) : m_value(std::move(value)) {}

    VarType type() const noexcept { return static_cast<VarType>(m_value.index()); }
    bool is_empty() const noexcept { return type() == VarType::Empty; }

    // Exact accessors: the variant must hold that type (checked by the caller).
    int16_t i2() const { return std::get<int16_t>(m_value); }
    int32_t i4() const { return std::get<int32_t>(m_value); }
    double r8() const { return std::get<double>(m_value); }
    bool boolean() const { return std::get<bool>(m_value); }
    double date() const { return std::get<Date>(m_value).value; }
    const BStr& string() const { return std::get<BStr>(m_value); }
    const Ref<Dispatch>& object() const { return std::get<Ref<Dispatch>>(m_value); }

    friend bool operator==(const Variant& a, const Variant& b);

private:
    std::variant<std::monostate, Null, int16_t, int32_t, double, bool, BStr, Date, Ref<Dispatch>> m_value;
};

// Coercions with the automation runtime's rules: numbers round half to even, a value out
// of range is the overflow error (6), a value of the wrong kind a type mismatch (13).
int16_t to_i2(const Variant& value);
int32_t to_i4(const Variant& value);
double to_r8(const Variant& value);
bool to_bool(const Variant& value);
double to_date(const Variant& value);
BStr to_bstr(const Variant& value);
// Empty and Null give the null reference; anything but an object is a type mismatch.
Ref<Dispatch> to_object(const Variant& value);

// The 16-bit boolean of automation: true is -1.
inline constexpr int16_t kVariantTrue = -1;
inline constexpr int16_t kVariantFalse = 0;

}  // namespace varne
