#include "platform/windows/com/com_object.h"

#include <cstddef>
#include <mutex>
#include <unordered_map>

#include "platform/windows/com/com_module.h"
#include "platform/windows/com/dispatch_functions.h"
#include "platform/windows/com/dual_vtable.h"

namespace varne::com {

namespace {

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

}  // namespace

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
    auto* created = new ComObject{cls ? dual_vtable(*cls) : kDispatchFunctions, kErrorVtable, 1, object, cls};
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

}  // namespace varne::com
