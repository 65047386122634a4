#include "platform/windows/com/error_report.h"

#include <exception>
#include <new>

#include "frame/automation_error.h"
#include "platform/windows/com/com_module.h"

namespace varne::com {

HRESULT error_result(int32_t number) noexcept
{
    if (number > 0 && number <= 0xFFFF)
        return static_cast<HRESULT>(0x800A0000u | static_cast<uint32_t>(number));
    return static_cast<HRESULT>(number);
}

namespace {

struct Failure {
    HRESULT code = E_FAIL;
    BStr description;
};

// The exception being handled, as a client sees it.
Failure current_failure() noexcept
{
    Failure failure;
    try {
        throw;
    } catch (const AutomationError& error) {
        failure.code = error_result(error.number());
        failure.description = from_utf8(error.description());
    } catch (const std::bad_alloc&) {
        failure.code = E_OUTOFMEMORY;
        failure.description = u"Out of memory";
    } catch (const std::exception& error) {
        failure.description = from_utf8(error.what());
    } catch (...) {
        failure.description = u"Unspecified error";
    }
    return failure;
}

const OLECHAR* text(const BStr& s)
{
    return reinterpret_cast<const OLECHAR*>(s.c_str());
}

HRESULT report(const Failure& failure, const ClassDescriptor* cls, EXCEPINFO* info) noexcept
{
    const BStr source = cls ? BStr(cls->prog_id) : BStr(library_descriptor().name);
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetSource(const_cast<LPOLESTR>(text(source)));
        create->SetDescription(const_cast<LPOLESTR>(text(failure.description)));
        if (cls)
            create->SetGUID(to_iid(cls->interface_id));
        IErrorInfo* error_info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&error_info)))) {
            SetErrorInfo(0, error_info);
            error_info->Release();
        }
        create->Release();
    }
    if (!info)
        return failure.code;
    *info = EXCEPINFO{};
    info->bstrSource = SysAllocString(text(source));
    info->bstrDescription = SysAllocString(text(failure.description));
    info->scode = failure.code;
    return DISP_E_EXCEPTION;
}

}  // namespace

HRESULT report_failure(const ClassDescriptor* cls, EXCEPINFO* info) noexcept
{
    return report(current_failure(), cls, info);
}

HRESULT report_creation_failure(const ClassDescriptor& cls) noexcept
{
    const Failure failure = current_failure();
    try {
        const BStr cause = BStr(cls.prog_id) + u": " + failure.description;
        SetEnvironmentVariableW(kCreationFailureVariable, reinterpret_cast<const wchar_t*>(cause.c_str()));
    } catch (const std::bad_alloc&) {
        SetEnvironmentVariableW(kCreationFailureVariable, L"Out of memory");
    }
    return report(failure, &cls, nullptr);
}

}  // namespace varne::com
