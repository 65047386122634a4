#pragma once

#include <span>
#include <utility>

#include "frame/dispatch.h"
#include "frame/text.h"

namespace varne {

// A method of an object taken as a value (`element.click` read as a property); calling it calls the
// method on that object, which checks and raises as a direct call would.
class BoundMethod final : public Dispatch {
public:
    BoundMethod(Ref<Dispatch> target, BStr name) : m_target(std::move(target)), m_name(std::move(name)) {}
    Variant call_default(std::span<const Variant> args) override { return m_target->call_method(m_name, args); }

private:
    Ref<Dispatch> m_target;
    BStr m_name;
};

}  // namespace varne
