#include "frame/object.h"

#include "frame/automation_error.h"

namespace varne {

namespace {
std::atomic<int64_t> g_live_objects{0};
}

Object::Object() : m_owner(std::this_thread::get_id())
{
    g_live_objects.fetch_add(1, std::memory_order_relaxed);
}

Object::~Object()
{
    g_live_objects.fetch_sub(1, std::memory_order_relaxed);
}

void Object::release() const noexcept
{
    if (m_references.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    auto* self = const_cast<Object*>(this);
    self->release_step();
    delete self;
}

void Object::check_apartment() const
{
    if (std::this_thread::get_id() != m_owner)
        throw AutomationError(error_number::kWrongThread,
                              "The object was called from a thread other than the one that created it");
}

int64_t Object::live_objects() noexcept
{
    return g_live_objects.load(std::memory_order_relaxed);
}

}  // namespace varne
