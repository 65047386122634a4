#pragma once

#include <span>
#include <type_traits>
#include <utility>

#include "frame/dispatch.h"

namespace varne {

// Turns an early-bound member function into a late-binding thunk, so that both paths run
// the same code. Arguments arrive already converted to their declared types.
namespace detail {

template <class T, class Plain = std::remove_cvref_t<T>>
Plain argument_as(const Variant& value)
{
    if constexpr (std::is_same_v<Plain, int16_t>)
        return value.i2();
    else if constexpr (std::is_same_v<Plain, int32_t>)
        return value.i4();
    else if constexpr (std::is_enum_v<Plain>)
        return static_cast<Plain>(value.i4());
    else if constexpr (std::is_same_v<Plain, BStr>)
        return value.string();
    else if constexpr (std::is_same_v<Plain, Ref<Dispatch>>)
        return value.type() == VarType::Object ? value.object() : Ref<Dispatch>();
    else
        return value;
}

template <class Method>
struct MethodTraits;

template <class Class, class Result, class... Args>
struct MethodTraits<Result (Class::*)(Args...)> {
    using Object = Class;
    using Return = Result;
    using Arguments = std::tuple<Args...>;
    static constexpr size_t kArity = sizeof...(Args);
};

template <auto Method, size_t... Index>
Variant call_with(Dispatch& self, std::span<const Variant> args, std::index_sequence<Index...>)
{
    using Traits = MethodTraits<decltype(Method)>;
    auto& object = static_cast<typename Traits::Object&>(self);
    if constexpr (std::is_void_v<typename Traits::Return>) {
        (object.*Method)(argument_as<std::tuple_element_t<Index, typename Traits::Arguments>>(args[Index])...);
        return {};
    } else {
        return Variant(
            (object.*Method)(argument_as<std::tuple_element_t<Index, typename Traits::Arguments>>(args[Index])...));
    }
}

}  // namespace detail

template <auto Method>
Variant member_thunk(Dispatch& self, std::span<const Variant> args)
{
    using Traits = detail::MethodTraits<decltype(Method)>;
    return detail::call_with<Method>(self, args, std::make_index_sequence<Traits::kArity>{});
}

}  // namespace varne
