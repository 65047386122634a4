#pragma once

#include <cstdint>

#include "frame/automation_error.h"
#include "frame/dispatch.h"
#include "frame/late_binding.h"
#include "frame/text.h"
#include "frame/variant.h"

namespace varne {

// Which property identifies an image or a link.
enum BrowserIdentType : int32_t { brwImgAlt = 1, brwImgSrc = 2, brwInnerText = 3 };
// How a text is compared: whole, beginning, end.
enum BrowserMatchType : int32_t { brwExactMatch = 1, brwLeftMatch = 2, brwRightMatch = 3 };

// The early-bound interfaces of the five classes: virtual members in interface order.
// Objects (browser application, documents, frames, forms, the spreadsheet application)
// travel as late-binding references.

class _Browser : public Dispatch {
public:
    const ClassDescriptor* class_descriptor() const noexcept override;

    virtual void SetBrowserLog(const BStr& LogName) = 0;
    virtual void CloseBrowserLog() = 0;
    virtual int32_t GetBrowserHWnd() = 0;
    virtual Ref<Dispatch> GetBrowser() = 0;
    virtual int16_t FrameGotoURL(int16_t FrameNumber, const BStr& URL) = 0;
    virtual void GotoURL(const BStr& URL) = 0;
    virtual int16_t WaitForBrowser() = 0;
    virtual int16_t WaitForFrame(const Ref<Dispatch>& Window) = 0;
    virtual int16_t MatchInnerText(const Ref<Dispatch>& Document, const BStr& SearchString, const BStr& Tag,
                                   BrowserMatchType MatchType = brwExactMatch, int16_t Occurrence = 0) = 0;
    virtual int16_t FormExists(const Ref<Dispatch>& Document, const BStr& FormName) = 0;
    virtual int16_t ImageExists(const Ref<Dispatch>& Document, const BStr& ImageText,
                                BrowserIdentType IdentMethod = brwImgAlt) = 0;
    virtual int16_t LinkExists(const Ref<Dispatch>& Document, const BStr& LinkText,
                               BrowserIdentType IdentMethod = brwInnerText) = 0;
    virtual int16_t ClickLink(const Ref<Dispatch>& Document, const BStr& LinkText,
                              BrowserIdentType IdentMethod = brwInnerText, int16_t Occurrence = 0) = 0;
    virtual int16_t ClickFormButton(const Ref<Dispatch>& FormElement, const BStr& Button, int16_t Occurrence = 0) = 0;
    virtual int16_t PopupClickOk() = 0;
    virtual int16_t PopupClickCancel() = 0;
    virtual int32_t GetLastActionMilliseconds() = 0;
    virtual int16_t WaitForText(const BStr& Text, int16_t Seconds = 30) = 0;
    virtual int16_t WaitForElement(const BStr& Selector, int16_t Seconds = 30) = 0;
    virtual void SetPopupTimeout(int16_t Seconds) = 0;
};

class _Config : public Dispatch {
public:
    const ClassDescriptor* class_descriptor() const noexcept override;

    virtual int16_t Load(const BStr& Filename) = 0;
    virtual Variant Save(const BStr& Filename) = 0;
    virtual void RemoveAll() = 0;
    virtual void SetItem(const BStr& Key, const BStr& Value) = 0;
    virtual BStr GetItem(const BStr& Key) = 0;
    virtual void UnSetItem(const BStr& Key) = 0;
};

class _Logging : public Dispatch {
public:
    const ClassDescriptor* class_descriptor() const noexcept override;

    virtual int16_t IsOpen() = 0;  // the 16-bit boolean: -1 or 0
    virtual int16_t StartLog(const BStr& Filename) = 0;
    virtual int16_t AppendLog(const BStr& Data) = 0;
    virtual void EndLog() = 0;
    virtual BStr GetLogName() = 0;
};

class _Timing : public Dispatch {
public:
    const ClassDescriptor* class_descriptor() const noexcept override;

    virtual Variant GetStartTime(const BStr& TimingName) = 0;
    virtual Variant GetEndTime(const BStr& TimingName) = 0;
    virtual int32_t GetLapsed(const BStr& TimingName) = 0;
    virtual void StartTiming(const BStr& TimingName) = 0;
    virtual void EndTiming(const BStr& TimingName) = 0;
    virtual BStr LapsedString(const BStr& TimingName) = 0;
    virtual int32_t GetLapsedMilliseconds(const BStr& TimingName) = 0;
};

class _ExcelConn : public Dispatch {
public:
    const ClassDescriptor* class_descriptor() const noexcept override;

    virtual Ref<Dispatch> GetXL() = 0;
    virtual void SaveWorkbook(const BStr& Filename, const BStr& DefaultSheet = {}) = 0;
};

// Creates a library object through the library itself and hands out its interface.
template <class Interface>
Ref<Interface> create_library_object(std::u16string_view prog_id)
{
    Ref<Dispatch> object = create_object(prog_id);
    auto* typed = dynamic_cast<Interface*>(object.get());
    if (!typed)
        throw AutomationError(error_number::kTypeMismatch, "Unexpected class behind " + to_utf8(prog_id));
    return Ref<Interface>(typed);
}

}  // namespace varne
