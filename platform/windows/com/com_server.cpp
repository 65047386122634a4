// The DLL's entry points on the platform's component runtime: a class factory per class of the
// descriptor, unloading decided by live objects and server locks, self-registration.
#include <ole2.h>
#include <windows.h>

#include "frame/per_class.h"
#include "frame/server_locks.h"
#include "platform/windows/com/com_module.h"
#include "platform/windows/com/com_object.h"
#include "platform/windows/com/error_report.h"
#include "platform/windows/com/com_registration.h"

namespace varne::com {

namespace {

HMODULE g_module = nullptr;

// A class object for one class. It lives as long as the DLL: its references do not keep the
// DLL loaded, only LockServer does.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ClassDescriptor& cls) : m_class(cls) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        IDispatch* object = nullptr;
        try {
            object = wrap(m_class.create());
        } catch (...) {
            return report_creation_failure(m_class);
        }
        HRESULT result = object->QueryInterface(iid, out);
        object->Release();
        return result;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        lock_server(lock != FALSE);
        return S_OK;
    }

    const ClassDescriptor& descriptor() const { return m_class; }

private:
    const ClassDescriptor& m_class;
};

ClassFactory* factory_of(const ClassDescriptor& cls)
{
    return &per_class<ClassFactory>(cls);
}

}  // namespace

HMODULE module_handle() noexcept
{
    return g_module;
}

std::wstring module_path()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace varne::com

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        varne::com::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    // A script host may still release its objects after this, on its way out.
    if (reason == DLL_PROCESS_DETACH && reserved)
        varne::note_process_ending();
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID class_id, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    const varne::ClassDescriptor* cls = varne::find_class(varne::com::from_iid(class_id));
    if (!cls)
        return CLASS_E_CLASSNOTAVAILABLE;
    return varne::com::factory_of(*cls)->QueryInterface(iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return varne::Object::live_objects() == 0 && varne::server_locks() == 0 && varne::background_work() == 0 ? S_OK
                                                                                                             : S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return varne::com::register_server(varne::library_descriptor(), varne::com::module_path(),
                                       varne::com::machine_then_user());
}

HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return varne::com::unregister_server(varne::library_descriptor(), varne::com::module_path(),
                                         varne::com::machine_then_user());
}
}
