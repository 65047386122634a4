#include "frame/descriptor.h"
#include "frame/interfaces.h"
#include "frame/member_thunk.h"

#include <cstdio>
#include <iterator>
#include <string>

namespace varne {

namespace {

constexpr TypeDescriptor kNone{ValueType::None, {}};
constexpr TypeDescriptor kI2{ValueType::I2, {}};
constexpr TypeDescriptor kI4{ValueType::I4, {}};
constexpr TypeDescriptor kBool{ValueType::Bool, {}};
constexpr TypeDescriptor kString{ValueType::String, {}};
constexpr TypeDescriptor kVariant{ValueType::Variant, {}};
constexpr TypeDescriptor kWebBrowser{ValueType::Object, "IWebBrowser2"};
constexpr TypeDescriptor kWindow{ValueType::Object, "HTMLWindow2"};
constexpr TypeDescriptor kDocument{ValueType::Object, "HTMLDocument"};
constexpr TypeDescriptor kFormElement{ValueType::Object, "HTMLFormElement"};
constexpr TypeDescriptor kApplication{ValueType::Object, "_Application"};
constexpr TypeDescriptor kIdentType{ValueType::Enum, "BrowserIdentType"};
constexpr TypeDescriptor kMatchType{ValueType::Enum, "BrowserMatchType"};

ParamDescriptor param(std::u16string_view name, TypeDescriptor type)
{
    return {name, type, std::nullopt};
}

ParamDescriptor optional(std::u16string_view name, TypeDescriptor type, Variant default_value)
{
    return {name, type, std::move(default_value)};
}

LibraryDescriptor make_library()
{
    const Variant kNoOccurrence = int16_t(0);
    const Variant kWaitSeconds = int16_t(30);
    return LibraryDescriptor{
        .name = u"Varne",
        // Like the classes' identifiers, the type library's never changes.
        .type_library_id = {0x5E8E7564, 0xB2B5, 0x4699, {0xB9, 0x47, 0x36, 0x98, 0x60, 0xB0, 0xF2, 0xF2}},
        .major_version = 14,
        .minor_version = 0,
        .locale = 0x409,
        .description = u"Varne: browser automation with timing, logging, settings and workbooks",
        .threading_model = u"Apartment",
        .classes =
            {
                {u"Browser",
                 u"_Browser",
                 u"Varne.Browser",
                 {0x7DAD0CE8, 0xD083, 0x4258, {0xBD, 0xB5, 0x0B, 0x03, 0xBE, 0x45, 0xBC, 0x85}},
                 {0xC450EE35, 0x5903, 0x41FF, {0xA9, 0x50, 0x8E, 0x78, 0x39, 0x02, 0x13, 0x2D}},
                 {
                     {u"SetBrowserLog", {param(u"LogName", kString)}, kNone, member_thunk<&_Browser::SetBrowserLog>},
                     {u"CloseBrowserLog", {}, kNone, member_thunk<&_Browser::CloseBrowserLog>},
                     {u"GetBrowserHWnd", {}, kI4, member_thunk<&_Browser::GetBrowserHWnd>},
                     {u"GetBrowser", {}, kWebBrowser, member_thunk<&_Browser::GetBrowser>},
                     {u"FrameGotoURL",
                      {param(u"FrameNumber", kI2), param(u"URL", kString)},
                      kI2,
                      member_thunk<&_Browser::FrameGotoURL>},
                     {u"GotoURL", {param(u"URL", kString)}, kNone, member_thunk<&_Browser::GotoURL>},
                     {u"WaitForBrowser", {}, kI2, member_thunk<&_Browser::WaitForBrowser>},
                     {u"WaitForFrame", {param(u"Window", kWindow)}, kI2, member_thunk<&_Browser::WaitForFrame>},
                     {u"MatchInnerText",
                      {param(u"Document", kDocument), param(u"SearchString", kString), param(u"Tag", kString),
                       optional(u"MatchType", kMatchType, int32_t(brwExactMatch)),
                       optional(u"Occurrence", kI2, kNoOccurrence)},
                      kI2,
                      member_thunk<&_Browser::MatchInnerText>},
                     {u"FormExists",
                      {param(u"Document", kDocument), param(u"FormName", kString)},
                      kI2,
                      member_thunk<&_Browser::FormExists>},
                     {u"ImageExists",
                      {param(u"Document", kDocument), param(u"ImageText", kString),
                       optional(u"IdentMethod", kIdentType, int32_t(brwImgAlt))},
                      kI2,
                      member_thunk<&_Browser::ImageExists>},
                     {u"LinkExists",
                      {param(u"Document", kDocument), param(u"LinkText", kString),
                       optional(u"IdentMethod", kIdentType, int32_t(brwInnerText))},
                      kI2,
                      member_thunk<&_Browser::LinkExists>},
                     {u"ClickLink",
                      {param(u"Document", kDocument), param(u"LinkText", kString),
                       optional(u"IdentMethod", kIdentType, int32_t(brwInnerText)),
                       optional(u"Occurrence", kI2, kNoOccurrence)},
                      kI2,
                      member_thunk<&_Browser::ClickLink>},
                     {u"ClickFormButton",
                      {param(u"FormElement", kFormElement), param(u"Button", kString),
                       optional(u"Occurrence", kI2, kNoOccurrence)},
                      kI2,
                      member_thunk<&_Browser::ClickFormButton>},
                     {u"PopupClickOk", {}, kI2, member_thunk<&_Browser::PopupClickOk>},
                     {u"PopupClickCancel", {}, kI2, member_thunk<&_Browser::PopupClickCancel>},
                     {u"GetLastActionMilliseconds", {}, kI4, member_thunk<&_Browser::GetLastActionMilliseconds>},
                     {u"WaitForText",
                      {param(u"Text", kString), optional(u"Seconds", kI2, kWaitSeconds)},
                      kI2,
                      member_thunk<&_Browser::WaitForText>},
                     {u"WaitForElement",
                      {param(u"Selector", kString), optional(u"Seconds", kI2, kWaitSeconds)},
                      kI2,
                      member_thunk<&_Browser::WaitForElement>},
                     {u"SetPopupTimeout", {param(u"Seconds", kI2)}, kNone, member_thunk<&_Browser::SetPopupTimeout>},
                 }},
                {u"Config",
                 u"_Config",
                 u"Varne.Config",
                 {0x266EFF85, 0xE7F4, 0x4766, {0xB6, 0xE7, 0xFC, 0x41, 0xC6, 0x1A, 0x56, 0xA0}},
                 {0xDC25CBA5, 0x4C6F, 0x4F7C, {0xAE, 0xD2, 0xE8, 0x7D, 0x0D, 0xFD, 0x50, 0xF3}},
                 {
                     {u"Load", {param(u"Filename", kString)}, kI2, member_thunk<&_Config::Load>},
                     {u"Save", {param(u"Filename", kString)}, kVariant, member_thunk<&_Config::Save>},
                     {u"RemoveAll", {}, kNone, member_thunk<&_Config::RemoveAll>},
                     {u"SetItem",
                      {param(u"Key", kString), param(u"Value", kString)},
                      kNone,
                      member_thunk<&_Config::SetItem>},
                     {u"GetItem", {param(u"Key", kString)}, kString, member_thunk<&_Config::GetItem>},
                     {u"UnSetItem", {param(u"Key", kString)}, kNone, member_thunk<&_Config::UnSetItem>},
                 }},
                {u"Logging",
                 u"_Logging",
                 u"Varne.Logging",
                 {0x8B45DCED, 0x2C36, 0x4911, {0xBF, 0x41, 0x54, 0x92, 0x40, 0xA5, 0x3F, 0x5A}},
                 {0x1731C31C, 0x44B9, 0x4E21, {0xB4, 0x7B, 0x68, 0xE2, 0xF0, 0xCC, 0x20, 0x02}},
                 {
                     {u"IsOpen", {}, kBool, member_thunk<&_Logging::IsOpen>},
                     {u"StartLog", {param(u"Filename", kString)}, kI2, member_thunk<&_Logging::StartLog>},
                     {u"AppendLog", {param(u"Data", kString)}, kI2, member_thunk<&_Logging::AppendLog>},
                     {u"EndLog", {}, kNone, member_thunk<&_Logging::EndLog>},
                     {u"GetLogName", {}, kString, member_thunk<&_Logging::GetLogName>},
                 }},
                {u"Timing",
                 u"_Timing",
                 u"Varne.Timing",
                 {0x62C63BF6, 0xE19D, 0x454F, {0x94, 0x42, 0x20, 0xF4, 0x3F, 0x53, 0x7D, 0x72}},
                 {0xC66F539B, 0x6645, 0x46E0, {0x8A, 0xDA, 0xEA, 0x85, 0x95, 0x13, 0x54, 0x3E}},
                 {
                     {u"GetStartTime", {param(u"TimingName", kString)}, kVariant, member_thunk<&_Timing::GetStartTime>},
                     {u"GetEndTime", {param(u"TimingName", kString)}, kVariant, member_thunk<&_Timing::GetEndTime>},
                     {u"GetLapsed", {param(u"TimingName", kString)}, kI4, member_thunk<&_Timing::GetLapsed>},
                     {u"StartTiming", {param(u"TimingName", kString)}, kNone, member_thunk<&_Timing::StartTiming>},
                     {u"EndTiming", {param(u"TimingName", kString)}, kNone, member_thunk<&_Timing::EndTiming>},
                     {u"LapsedString", {param(u"TimingName", kString)}, kString, member_thunk<&_Timing::LapsedString>},
                     {u"GetLapsedMilliseconds",
                      {param(u"TimingName", kString)},
                      kI4,
                      member_thunk<&_Timing::GetLapsedMilliseconds>},
                 }},
                {u"ExcelConn",
                 u"_ExcelConn",
                 u"Varne.ExcelConn",
                 {0x9B4AEE30, 0x25CE, 0x42AA, {0x8C, 0x67, 0xAD, 0x87, 0x5F, 0xFA, 0x9F, 0x23}},
                 {0xF409E886, 0x66CD, 0x424A, {0xB7, 0x54, 0xD2, 0xD9, 0x99, 0xBD, 0x03, 0xEB}},
                 {
                     {u"GetXL", {}, kApplication, member_thunk<&_ExcelConn::GetXL>},
                     {u"SaveWorkbook",
                      {param(u"Filename", kString), optional(u"DefaultSheet", kString, BStr())},
                      kNone,
                      member_thunk<&_ExcelConn::SaveWorkbook>},
                 }},
            },
        .enums =
            {
                {u"BrowserIdentType",
                 {{u"brwImgAlt", brwImgAlt}, {u"brwImgSrc", brwImgSrc}, {u"brwInnerText", brwInnerText}}},
                {u"BrowserMatchType",
                 {{u"brwExactMatch", brwExactMatch},
                  {u"brwLeftMatch", brwLeftMatch},
                  {u"brwRightMatch", brwRightMatch}}},
            },
    };
}

enum ClassIndex : size_t { kBrowserClass, kConfigClass, kLoggingClass, kTimingClass, kExcelConnClass };

// The creation step of each class, by its position in the descriptor table.
std::vector<CreationStep>& creation_steps()
{
    static std::vector<CreationStep> steps(library_descriptor().classes.size());
    return steps;
}

}  // namespace

const ValueTypeNames& names_of(ValueType kind)
{
    static constexpr ValueTypeNames kNames[] = {
        /* None */ {"nothing", "None", "void", "a value"},
        /* I2 */ {"16-bit integer", "int", "short", "a 16-bit integer (-32768 to 32767)"},
        /* I4 */ {"32-bit integer", "int", "long", "a 32-bit integer"},
        /* Bool */ {"16-bit boolean", "bool", "VARIANT_BOOL", "a boolean"},
        /* String */ {"string", "str", "BSTR", "a string"},
        /* Variant */ {"variant", "Any", "VARIANT", "a value"},
        /* Object */ {"", "Object", "IDispatch*", ""},
        /* Enum */ {"", "int", "", ""},
    };
    static_assert(std::size(kNames) == static_cast<size_t>(ValueType::Enum) + 1, "a row for every type");
    return kNames[static_cast<size_t>(kind)];
}

std::string type_name(const TypeDescriptor& type, std::string_view ValueTypeNames::*description)
{
    const std::string_view written = names_of(type.kind).*description;
    return std::string(written.empty() ? type.name : written);
}

std::string literal(const Variant& value, const LiteralSyntax& syntax)
{
    switch (value.type()) {
    case VarType::I2:
        return std::to_string(value.i2());
    case VarType::I4:
        return std::to_string(value.i4());
    case VarType::String:
        return syntax.quoted(value.string());
    case VarType::Bool:
        return std::string(value.boolean() ? syntax.true_text : syntax.false_text);
    default:
        return std::string(syntax.other);
    }
}

const LibraryDescriptor& library_descriptor()
{
    static const LibraryDescriptor library = make_library();
    return library;
}

void register_creation_step(std::u16string_view class_name, CreationStep step)
{
    const auto& classes = library_descriptor().classes;
    for (size_t index = 0; index < classes.size(); ++index) {
        if (classes[index].name == class_name) {
            creation_steps()[index] = std::move(step);
            return;
        }
    }
    throw AutomationError(error_number::kCannotCreateObject, "No class " + to_utf8(class_name) + " to register");
}

Ref<Dispatch> ClassDescriptor::create() const
{
    const auto& step = creation_steps()[static_cast<size_t>(this - library_descriptor().classes.data())];
    if (!step)
        throw AutomationError(error_number::kCannotCreateObject,
                              "ActiveX component can't create object: nothing makes " + to_utf8(name) +
                                  " in this build");
    return step();
}

std::string Guid::to_string() const
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3,
                  data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
    return text;
}

const ClassDescriptor* find_class(const Guid& class_id)
{
    for (const auto& cls : library_descriptor().classes) {
        if (cls.class_id == class_id)
            return &cls;
    }
    return nullptr;
}

const ClassDescriptor* find_class(std::u16string_view prog_id)
{
    for (const auto& cls : library_descriptor().classes) {
        if (equals_ignoring_case(cls.prog_id, prog_id) || from_utf8(cls.class_id.to_string()) == to_upper(prog_id))
            return &cls;
    }
    return nullptr;
}

const ClassDescriptor* _Browser::class_descriptor() const noexcept
{
    return &library_descriptor().classes[kBrowserClass];
}
const ClassDescriptor* _Config::class_descriptor() const noexcept
{
    return &library_descriptor().classes[kConfigClass];
}
const ClassDescriptor* _Logging::class_descriptor() const noexcept
{
    return &library_descriptor().classes[kLoggingClass];
}
const ClassDescriptor* _Timing::class_descriptor() const noexcept
{
    return &library_descriptor().classes[kTimingClass];
}
const ClassDescriptor* _ExcelConn::class_descriptor() const noexcept
{
    return &library_descriptor().classes[kExcelConnClass];
}

}  // namespace varne
