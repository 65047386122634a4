#include "platform/posix/class_object.h"

#include "frame/automation_error.h"
#include "frame/per_class.h"
#include "frame/server_locks.h"
#include "platform/posix/registration.h"

namespace varne::posix {

namespace {

ClassObject* class_object_for(const ClassDescriptor& cls)
{
    return &per_class<ClassObject>(cls);
}

}  // namespace

int32_t ClassObject::QueryInterface(const Guid& interface_id, void** object)
{
    if (!object)
        return status::kPointer;
    *object = nullptr;
    if (interface_id != kIUnknown && interface_id != kIClassFactory)
        return status::kNoInterface;
    AddRef();
    *object = this;
    return status::kOk;
}

uint32_t ClassObject::AddRef()
{
    return ++m_references;
}

uint32_t ClassObject::Release()
{
    return --m_references;
}

int32_t ClassObject::CreateInstance(void* outer, const Guid& interface_id, void** object)
{
    if (!object)
        return status::kPointer;
    *object = nullptr;
    if (outer)
        return status::kNoAggregation;
    if (interface_id != kIUnknown && interface_id != kIDispatch && interface_id != m_class.interface_id)
        return status::kNoInterface;
    try {
        Ref<Dispatch> created = m_class.create();
        created->add_ref();
        *object = created.get();
        return status::kOk;
    } catch (const AutomationError&) {
        return status::kFail;
    }
}

int32_t ClassObject::LockServer(int32_t lock)
{
    lock_server(lock != 0);
    return status::kOk;
}

}  // namespace varne::posix

extern "C" {

int32_t DllRegisterServer()
{
    return varne::posix::register_library(varne::library_descriptor());
}

int32_t DllUnregisterServer()
{
    return varne::posix::unregister_library(varne::library_descriptor());
}

int32_t DllGetClassObject(const varne::Guid* class_id, const varne::Guid* interface_id, void** object)
{
    if (!class_id || !interface_id || !object)
        return varne::posix::status::kPointer;
    *object = nullptr;
    const auto* cls = varne::find_class(*class_id);
    if (!cls)
        return varne::posix::status::kClassNotAvailable;
    return varne::posix::class_object_for(*cls)->QueryInterface(*interface_id, object);
}

int32_t DllCanUnloadNow()
{
    bool idle = varne::Object::live_objects() == 0 && varne::server_locks() == 0 && varne::background_work() == 0;
    return idle ? varne::posix::status::kOk : varne::posix::status::kFalse;
}
}
