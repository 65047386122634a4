#pragma once

#include <atomic>
#include <cstdint>

#include "frame/descriptor.h"

namespace varne::posix {

// Status codes of the entry points, as the component runtime defines them.
namespace status {
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kFalse = 1;
inline constexpr int32_t kNoInterface = static_cast<int32_t>(0x80004002);
inline constexpr int32_t kPointer = static_cast<int32_t>(0x80004003);
inline constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
inline constexpr int32_t kClassNotAvailable = static_cast<int32_t>(0x80040111);
inline constexpr int32_t kNoAggregation = static_cast<int32_t>(0x80040110);
inline constexpr int32_t kClassRegistrationFailed = static_cast<int32_t>(0x80040201);
}  // namespace status

inline constexpr Guid kIUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid kIDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid kIClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The class object (object factory) of one class, as DllGetClassObject hands it out. Its
// virtual members follow the order of the runtime's class-factory interface.
class ClassObject {
public:
    explicit ClassObject(const ClassDescriptor& cls) : m_class(cls) {}

    virtual int32_t QueryInterface(const Guid& interface_id, void** object);
    virtual uint32_t AddRef();
    virtual uint32_t Release();
    // Hands out a new object's Dispatch with one reference; the caller releases it.
    virtual int32_t CreateInstance(void* outer, const Guid& interface_id, void** object);
    virtual int32_t LockServer(int32_t lock);

    const ClassDescriptor& class_descriptor() const { return m_class; }

private:
    const ClassDescriptor& m_class;
    std::atomic<uint32_t> m_references{0};
};

}  // namespace varne::posix

extern "C" {
__attribute__((visibility("default"))) int32_t DllRegisterServer();
__attribute__((visibility("default"))) int32_t DllUnregisterServer();
__attribute__((visibility("default"))) int32_t DllGetClassObject(const varne::Guid* class_id,
                                                                 const varne::Guid* interface_id, void** object);
__attribute__((visibility("default"))) int32_t DllCanUnloadNow();
}
