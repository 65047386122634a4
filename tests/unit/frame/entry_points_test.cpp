#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/posix/class_object.h"
#include "frame/late_binding.h"
#include "tests/support/disk_files.h"

namespace varne::posix {
namespace {

using RegisterServer = int32_t (*)();
using GetClassObject = int32_t (*)(const Guid*, const Guid*, void**);
using CanUnloadNow = int32_t (*)();

// The library as a client process sees it: loaded with dlopen, reached through its exports.
class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_config_home = std::filesystem::temp_directory_path() / ("varne-registry-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_config_home);
        setenv("XDG_CONFIG_HOME", m_config_home.c_str(), 1);
        m_handle = dlopen(VARNE_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << dlerror();
        register_server = symbol<RegisterServer>("DllRegisterServer");
        unregister_server = symbol<RegisterServer>("DllUnregisterServer");
        get_class_object = symbol<GetClassObject>("DllGetClassObject");
        can_unload_now = symbol<CanUnloadNow>("DllCanUnloadNow");
    }

    void TearDown() override
    {
        if (m_handle)
            dlclose(m_handle);
        std::filesystem::remove_all(m_config_home);
    }

    template <class T>
    T symbol(const char* name)
    {
        void* address = dlsym(m_handle, name);
        EXPECT_NE(address, nullptr) << name;
        return reinterpret_cast<T>(address);
    }

    std::string registry_text() const { return testing::read_bytes(m_config_home / "varne" / "registry.ini"); }

    RegisterServer register_server = nullptr;
    RegisterServer unregister_server = nullptr;
    GetClassObject get_class_object = nullptr;
    CanUnloadNow can_unload_now = nullptr;

private:
    void* m_handle = nullptr;
    std::filesystem::path m_config_home;
};

const Guid kTimingClass{0x62C63BF6, 0xE19D, 0x454F, {0x94, 0x42, 0x20, 0xF4, 0x3F, 0x53, 0x7D, 0x72}};

TEST_F(LoadedLibrary, CreatesAnObjectThroughItsClassObjectAndUnloadsWhenIdle)
{
    EXPECT_EQ(can_unload_now(), status::kOk);

    void* factory_pointer = nullptr;
    ASSERT_EQ(get_class_object(&kTimingClass, &kIClassFactory, &factory_pointer), status::kOk);
    auto* factory = static_cast<ClassObject*>(factory_pointer);

    void* object_pointer = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIDispatch, &object_pointer), status::kOk);
    auto* timing = static_cast<Dispatch*>(object_pointer);
    EXPECT_EQ(can_unload_now(), status::kFalse);

    Variant name = BStr(u"Step");
    invoke(*timing, u"StartTiming", {&name, 1});
    EXPECT_EQ(invoke(*timing, u"LapsedString", {&name, 1}), Variant(BStr(u"0 days 00:00:00")));

    timing->release();
    EXPECT_EQ(can_unload_now(), status::kOk);
    factory->LockServer(1);
    EXPECT_EQ(can_unload_now(), status::kFalse);
    factory->LockServer(0);
    EXPECT_EQ(can_unload_now(), status::kOk);
    factory->Release();
}

TEST_F(LoadedLibrary, AnUnlockWithoutALockLeavesTheCountAtZero)
{
    void* factory_pointer = nullptr;
    ASSERT_EQ(get_class_object(&kTimingClass, &kIClassFactory, &factory_pointer), status::kOk);
    auto* factory = static_cast<ClassObject*>(factory_pointer);

    EXPECT_EQ(factory->LockServer(0), status::kOk);
    EXPECT_EQ(can_unload_now(), status::kOk);
    factory->LockServer(1);  // a client's real lock still keeps the library loaded
    EXPECT_EQ(can_unload_now(), status::kFalse);
    factory->LockServer(0);
    EXPECT_EQ(can_unload_now(), status::kOk);
    factory->Release();
}

TEST_F(LoadedLibrary, RefusesAnUnknownClassWithoutSideEffects)
{
    const Guid unknown{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(get_class_object(&unknown, &kIClassFactory, &object), status::kClassNotAvailable);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(can_unload_now(), status::kOk);
}

TEST_F(LoadedLibrary, RegistersAndUnregistersEveryClass)
{
    ASSERT_EQ(register_server(), status::kOk);
    std::string registry = registry_text();
    EXPECT_NE(registry.find("[CLSID {62C63BF6-E19D-454F-9442-20F43F537D72}]\r\n"), std::string::npos);
    EXPECT_NE(registry.find("ProgID=Varne.ExcelConn\r\n"), std::string::npos);
    EXPECT_NE(registry.find("ThreadingModel=Apartment\r\n"), std::string::npos);
    EXPECT_NE(registry.find("[Interface {C450EE35-5903-41FF-A950-8E783902132D}]\r\nName=_Browser\r\n"),
              std::string::npos);
    EXPECT_NE(registry.find("Version=14.0\r\n"), std::string::npos);
    EXPECT_NE(registry.find(std::filesystem::canonical(VARNE_LIBRARY_FILE).string()), std::string::npos);

    ASSERT_EQ(register_server(), status::kOk);  // registering again does not repeat entries
    EXPECT_EQ(registry_text(), registry);

    ASSERT_EQ(unregister_server(), status::kOk);
    EXPECT_EQ(registry_text(), "");
}

}  // namespace
}  // namespace varne::posix
