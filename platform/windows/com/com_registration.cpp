#include "platform/windows/com/com_registration.h"

#include <oleauto.h>
#include <olectl.h>

#include <algorithm>
#include <cwchar>

namespace varne::com {

namespace {

// The type library's marshaller (PSOAInterface): calls between apartments go through it.
constexpr wchar_t kTypeLibraryMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kVersionedSuffix[] = L".1";

std::wstring wide(std::u16string_view text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

std::wstring path_in(const ClassesRoot& root, const std::wstring& key)
{
    return root.classes_path + L"\\" + key;
}

// Keys made by registration, parents first; the shared CLSID, Interface and TypeLib keys are not ours.
std::vector<std::wstring> keys_made(const std::vector<RegistryValue>& values)
{
    std::vector<std::wstring> keys;
    for (const auto& value : values) {
        for (size_t end = value.key.find(L'\\');; end = value.key.find(L'\\', end + 1)) {
            std::wstring key = value.key.substr(0, end);
            bool shared = key == L"CLSID" || key == L"Interface" || key == L"TypeLib";
            if (!shared && std::find(keys.begin(), keys.end(), key) == keys.end())
                keys.push_back(key);
            if (end == std::wstring::npos)
                break;
        }
    }
    return keys;
}

LSTATUS write_values(const ClassesRoot& root, const std::vector<RegistryValue>& values)
{
    for (const auto& value : values) {
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExW(root.key, path_in(root, value.key).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                         nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS)
            return status;
        status = RegSetValueExW(key, value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.data.c_str()),
                                static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

bool holds(HKEY key, const RegistryValue& value)
{
    DWORD type = 0;
    DWORD size = 0;
    const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return false;
    data.resize(std::wcslen(data.c_str()));
    return data == value.data;
}

void remove_values(const ClassesRoot& root, const std::vector<RegistryValue>& values)
{
    for (const auto& value : values) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root.key, path_in(root, value.key).c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS)
            continue;
        if (holds(key, value))
            RegDeleteValueW(key, value.name.empty() ? nullptr : value.name.c_str());
        RegCloseKey(key);
    }
    auto keys = keys_made(values);
    for (auto made = keys.rbegin(); made != keys.rend(); ++made) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root.key, path_in(root, *made).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            continue;
        DWORD subkeys = 0;
        DWORD entries = 0;
        bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &entries, nullptr,
                                      nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                     subkeys == 0 && entries == 0;
        RegCloseKey(key);
        if (empty)
            RegDeleteKeyW(root.key, path_in(root, *made).c_str());
    }
}

// Whether the process may make keys under the root's classes key.
LSTATUS probe(const ClassesRoot& root)
{
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(root.key, root.classes_path.c_str(), 0, KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return status;
}

void set_error(const std::wstring& description)
{
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)))
        return;
    create->SetSource(const_cast<LPOLESTR>(L"Varne"));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

}  // namespace

std::vector<RegistryValue> registry_values(const LibraryDescriptor& library, const std::wstring& module_path)
{
    const std::wstring type_library = wide(library.type_library_id.to_string());
    // The registry writes type library versions in hexadecimal: 14.0 is "e.0".
    wchar_t version_text[16];
    std::swprintf(version_text, 16, L"%x.%x", library.major_version, library.minor_version);
    const std::wstring version = version_text;
    std::vector<RegistryValue> values;
    for (const auto& cls : library.classes) {
        const std::wstring clsid = L"CLSID\\" + wide(cls.class_id.to_string());
        const std::wstring name = wide(cls.name);
        const std::wstring prog_id = wide(cls.prog_id);
        const std::wstring versioned = prog_id + kVersionedSuffix;
        values.push_back({clsid, L"", name});
        values.push_back({clsid + L"\\InprocServer32", L"", module_path});
        values.push_back({clsid + L"\\InprocServer32", L"ThreadingModel", wide(library.threading_model)});
        values.push_back({clsid + L"\\ProgID", L"", versioned});
        values.push_back({clsid + L"\\VersionIndependentProgID", L"", prog_id});
        values.push_back({clsid + L"\\TypeLib", L"", type_library});
        values.push_back({clsid + L"\\Version", L"", version});
        values.push_back({prog_id, L"", name});
        values.push_back({prog_id + L"\\CLSID", L"", wide(cls.class_id.to_string())});
        values.push_back({prog_id + L"\\CurVer", L"", versioned});
        values.push_back({versioned, L"", name});
        values.push_back({versioned + L"\\CLSID", L"", wide(cls.class_id.to_string())});

        const std::wstring interface_key = L"Interface\\" + wide(cls.interface_id.to_string());
        values.push_back({interface_key, L"", wide(cls.interface_name)});
        values.push_back({interface_key + L"\\ProxyStubClsid", L"", kTypeLibraryMarshaller});
        values.push_back({interface_key + L"\\ProxyStubClsid32", L"", kTypeLibraryMarshaller});
        values.push_back({interface_key + L"\\TypeLib", L"", type_library});
        values.push_back({interface_key + L"\\TypeLib", L"Version", version});
    }
    wchar_t locale[16];
    std::swprintf(locale, 16, L"%x", library.locale);
    const std::wstring library_key = L"TypeLib\\" + type_library + L"\\" + version;
    const std::wstring folder = module_path.substr(0, module_path.find_last_of(L"\\/") + 1);
    values.push_back({library_key, L"", wide(library.description)});
    values.push_back({library_key + L"\\FLAGS", L"", L"0"});
    values.push_back({library_key + L"\\HELPDIR", L"", folder.empty() ? folder : folder.substr(0, folder.size() - 1)});
    // The library's own locale, and the neutral one, the only one that Wine's marshaller looks up.
    const wchar_t* platform = sizeof(void*) == 8 ? L"\\win64" : L"\\win32";
    values.push_back({library_key + L"\\" + locale + platform, L"", module_path});
    values.push_back({library_key + L"\\0" + platform, L"", module_path});
    return values;
}

std::span<const ClassesRoot> machine_then_user()
{
    static const ClassesRoot roots[] = {
        {HKEY_LOCAL_MACHINE, L"Software\\Classes", L"HKEY_LOCAL_MACHINE\\Software\\Classes"},
        {HKEY_CURRENT_USER, L"Software\\Classes", L"HKEY_CURRENT_USER\\Software\\Classes"},
    };
    return roots;
}

HRESULT register_server(const LibraryDescriptor& library, const std::wstring& module_path,
                        std::span<const ClassesRoot> roots)
{
    if (module_path.empty())
        return SELFREG_E_CLASS;
    const auto values = registry_values(library, module_path);
    std::wstring failures;
    for (const ClassesRoot& root : roots) {
        LSTATUS status = probe(root);
        if (status == ERROR_SUCCESS) {
            status = write_values(root, values);
            if (status == ERROR_SUCCESS)
                return S_OK;
            remove_values(root, values);
        }
        failures += (failures.empty() ? L"" : L"; ") + root.name + L" cannot be written (error " +
                    std::to_wstring(status) + L")";
    }
    set_error(L"The library cannot be registered: " + failures);
    return SELFREG_E_CLASS;
}

HRESULT unregister_server(const LibraryDescriptor& library, const std::wstring& module_path,
                          std::span<const ClassesRoot> roots)
{
    const auto values = registry_values(library, module_path);
    for (const ClassesRoot& root : roots)
        remove_values(root, values);
    return S_OK;
}

}  // namespace varne::com
