#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <utility>

namespace varne {

// Base of every object that the library hands out: counted by references, owned by the
// thread that created it (the apartment model), and counted while alive so that the
// library knows when it may be unloaded.
class Object {
public:
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    void add_ref() const noexcept { m_references.fetch_add(1, std::memory_order_relaxed); }
    // The last release runs the object's release step, then destroys it.
    void release() const noexcept;

    // Fails with an AutomationError when called from a thread other than the owner.
    void check_apartment() const;

    static int64_t live_objects() noexcept;

protected:
    Object();
    virtual ~Object();
    // The class's release step; runs once, before destruction. Failures are the step's own affair.
    virtual void release_step() noexcept {}

private:
    mutable std::atomic<int32_t> m_references{0};
    std::thread::id m_owner;
};

// A counted reference to an Object (or to one of its interfaces).
template <class T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(T* object) noexcept : m_object(object)
    {
        if (m_object)
            m_object->add_ref();
    }
    Ref(const Ref& other) noexcept : Ref(other.m_object) {}
    Ref(Ref&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> Ref(const Ref<U>& other)
    noexcept : Ref(other.get()) {}
    ~Ref()
    {
        if (m_object)
            m_object->release();
    }
    Ref& operator=(Ref other) noexcept
    {
        std::swap(m_object, other.m_object);
        return *this;
    }

    T* get() const noexcept { return m_object; }
    T* operator->() const noexcept { return m_object; }
    T& operator*() const noexcept { return *m_object; }
    explicit operator bool() const noexcept { return m_object != nullptr; }
    friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.m_object == b.m_object; }

private:
    T* m_object = nullptr;
};

template <class T, class... Args>
Ref<T> make_object(Args&&... args)
{
    return Ref<T>(new T(std::forward<Args>(args)...));
}

}  // namespace varne
