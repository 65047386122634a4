#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "frame/automation_error.h"
#include "frame/bound_method.h"
#include "frame/dispatch.h"
#include "frame/text.h"

namespace varne::embedded {

// Late binding for the objects of the model, from each class's table of members. A member
// is a property (read, perhaps written) or a method. Reading a method gives it as a value to
// be called; calling a property with arguments calls the object that it gives with them,
// as `Workbooks(1)` does. Every use first checks that what the object refers to is still
// there (Self::check_alive), so that nothing is reached after a quit, a close or a delete.
//
// Self provides `static std::span<const Member> members()` and `void check_alive() const`, and
// may name its default member in `static constexpr std::u16string_view kDefaultMember`.
template <class Self>
class ModelObject : public Dispatch {
public:
    // No default member unless Self names one.
    static constexpr std::u16string_view kDefaultMember{};

    struct Member {
        std::u16string_view name;
        Variant (Self::*get)() = nullptr;
        void (Self::*put)(const Variant&) = nullptr;
        Variant (Self::*call)(std::span<const Variant>) = nullptr;
    };

    Variant get_property(std::u16string_view name) override
    {
        const Member& member = find(name);
        if (member.get)
            return (self().*member.get)();
        return Ref<Dispatch>(make_object<BoundMethod>(Ref<Dispatch>(this), BStr(member.name)));
    }

    void put_property(std::u16string_view name, const Variant& value) override
    {
        const Member& member = find(name);
        if (!member.put)
            throw_not_supported(name);
        (self().*member.put)(value);
    }

    Variant call_method(std::u16string_view name, std::span<const Variant> args) override
    {
        const Member& member = find(name);
        if (member.call)
            return (self().*member.call)(args);
        Variant value = (self().*member.get)();
        if (args.empty())
            return value;
        if (value.type() == VarType::Object && value.object())
            return value.object()->call_default(args);
        throw AutomationError(error_number::kWrongArgumentCount,
                              "Wrong number of arguments or invalid property assignment: " + to_utf8(member.name));
    }

    Variant call_default(std::span<const Variant> args) override
    {
        self().check_alive();
        if (Self::kDefaultMember.empty())
            throw_not_supported(u"(default member)");
        return call_method(Self::kDefaultMember, args);
    }

private:
    Self& self() { return static_cast<Self&>(*this); }

    const Member& find(std::u16string_view name)
    {
        self().check_alive();
        for (const Member& member : Self::members()) {
            if (equals_ignoring_case(member.name, name))
                return member;
        }
        throw_not_supported(name);
    }
};

// The argument at index, or null when it was left out (not given, or given as Empty).
inline const Variant* argument(std::span<const Variant> args, size_t index)
{
    return index < args.size() && !args[index].is_empty() ? &args[index] : nullptr;
}

// Raises 449 when one of the first `required` arguments is left out and 450 for more than `most`.
void check_arguments(std::span<const Variant> args, size_t required, size_t most, std::u16string_view member);

// A position from 0 as the one-element argument list of an Item that counts from 1.
inline std::array<Variant, 1> position_from_1(int32_t index)
{
    return {static_cast<double>(index) + 1};
}

template <class T, class... Args>
Variant new_object(Args&&... args)
{
    return Ref<Dispatch>(make_object<T>(std::forward<Args>(args)...));
}

}  // namespace varne::embedded
