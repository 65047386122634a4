#include "platform/windows/com/com_registration.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <optional>
#include <string>
#include <vector>

namespace varne::com {
namespace {

constexpr wchar_t kTestKey[] = L"Software\\VarneTest";
constexpr wchar_t kModule[] = L"C:\\lib\\Varne.dll";

// Stand-ins for the machine's and the user's classes roots under HKCU\Software\VarneTest. An
// unwritable root is a handle of a key deleted after it was opened: every use of it fails, as
// HKLM does for a user who may not write it.
class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
        HKEY made = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\VarneTest\\User\\Classes", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &made, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(made);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\VarneTest\\Gone", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &m_gone, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VarneTest\\Gone"), ERROR_SUCCESS);
    }

    void TearDown() override
    {
        RegCloseKey(m_gone);
        RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
        CoUninitialize();
    }

    ClassesRoot unwritable_machine() const { return {m_gone, L"Classes", L"the machine's root"}; }
    static ClassesRoot user() { return {HKEY_CURRENT_USER, L"Software\\VarneTest\\User\\Classes", L"the user's root"}; }

    // The value under the user's stand-in, or nothing when it is not there.
    static std::optional<std::wstring> user_value(const std::wstring& key, const std::wstring& name = {})
    {
        wchar_t data[1024];
        DWORD size = sizeof data;
        std::wstring path = std::wstring(L"Software\\VarneTest\\User\\Classes\\") + key;
        if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_REG_SZ, nullptr,
                         data, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return std::wstring(data);
    }

    static void put_user_value(const std::wstring& key, const std::wstring& name, const std::wstring& data)
    {
        std::wstring path = std::wstring(L"Software\\VarneTest\\User\\Classes\\") + key;
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name.empty() ? nullptr : name.c_str(), REG_SZ,
                                  data.c_str(), static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    static bool user_key_exists(const std::wstring& key)
    {
        HKEY opened = nullptr;
        std::wstring path = std::wstring(L"Software\\VarneTest\\User\\Classes\\") + key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
            return false;
        RegCloseKey(opened);
        return true;
    }

    HKEY m_gone = nullptr;
};

TEST_F(Registration, LandsUnderTheUsersRootWhenTheMachinesCannotBeWritten)
{
    const ClassesRoot roots[] = {unwritable_machine(), user()};
    ASSERT_EQ(register_server(library_descriptor(), kModule, roots), S_OK);
    for (const auto& value : registry_values(library_descriptor(), kModule))
        EXPECT_EQ(user_value(value.key, value.name), value.data) << value.key << L" " << value.name;
    EXPECT_EQ(user_value(L"Varne.Timing\\CLSID"), L"{62C63BF6-E19D-454F-9442-20F43F537D72}");
}

TEST_F(Registration, NamesEveryRootThatFailedWhenNoneCanBeWritten)
{
    const ClassesRoot roots[] = {unwritable_machine(),
                                 {HKEY_CURRENT_USER, L"Software\\VarneTest\\Missing", L"the user's root"}};
    EXPECT_EQ(register_server(library_descriptor(), kModule, roots), SELFREG_E_CLASS);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR description = nullptr;
    info->GetDescription(&description);
    EXPECT_EQ(std::wstring(description), L"The library cannot be registered: the machine's root cannot be written "
                                         L"(error 1018); the user's root cannot be written (error 2)");
    SysFreeString(description);
    info->Release();
    EXPECT_FALSE(user_key_exists(L"Varne.Timing"));
}

TEST_F(Registration, UnregistrationRemovesExactlyWhatWasWritten)
{
    const ClassesRoot roots[] = {unwritable_machine(), user()};
    // Another program's value in a key of ours, and a value of ours that it has changed since.
    put_user_value(L"Varne.Timing", L"Owner", L"someone else");
    ASSERT_EQ(register_server(library_descriptor(), kModule, roots), S_OK);
    put_user_value(L"Varne.Config\\CurVer", L"", L"Varne.Config.2");

    ASSERT_EQ(unregister_server(library_descriptor(), kModule, roots), S_OK);
    EXPECT_EQ(user_value(L"Varne.Timing", L"Owner"), L"someone else");
    EXPECT_EQ(user_value(L"Varne.Timing"), std::nullopt);
    EXPECT_FALSE(user_key_exists(L"Varne.Timing\\CLSID"));
    EXPECT_EQ(user_value(L"Varne.Config\\CurVer"), L"Varne.Config.2");
    EXPECT_FALSE(user_key_exists(L"Varne.Browser"));
    EXPECT_FALSE(user_key_exists(L"CLSID\\{62C63BF6-E19D-454F-9442-20F43F537D72}"));
    EXPECT_TRUE(user_key_exists(L"CLSID"));  // shared with every other library
}

}  // namespace
}  // namespace varne::com
