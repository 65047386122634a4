#include <gtest/gtest.h>

#include <vector>

#include "frame/interfaces.h"
#include "frame/late_binding.h"

namespace varne {
namespace {

// Keeps the optional arguments of the last call, whichever way the call came in.
class RecordingBrowser final : public _Browser {
public:
    std::vector<Variant> optional;

    void SetBrowserLog(const BStr&) override {}
    void CloseBrowserLog() override {}
    int32_t GetBrowserHWnd() override { return 0; }
    Ref<Dispatch> GetBrowser() override { return nullptr; }
    int16_t FrameGotoURL(int16_t, const BStr&) override { return 0; }
    void GotoURL(const BStr&) override {}
    int16_t WaitForBrowser() override { return 0; }
    int16_t WaitForFrame(const Ref<Dispatch>&) override { return 0; }
    int16_t MatchInnerText(const Ref<Dispatch>&, const BStr&, const BStr&, BrowserMatchType MatchType,
                           int16_t Occurrence) override
    {
        return record({int32_t(MatchType), Occurrence});
    }
    int16_t FormExists(const Ref<Dispatch>&, const BStr&) override { return 0; }
    int16_t ImageExists(const Ref<Dispatch>&, const BStr&, BrowserIdentType IdentMethod) override
    {
        return record({int32_t(IdentMethod)});
    }
    int16_t LinkExists(const Ref<Dispatch>&, const BStr&, BrowserIdentType IdentMethod) override
    {
        return record({int32_t(IdentMethod)});
    }
    int16_t ClickLink(const Ref<Dispatch>&, const BStr&, BrowserIdentType IdentMethod, int16_t Occurrence) override
    {
        return record({int32_t(IdentMethod), Occurrence});
    }
    int16_t ClickFormButton(const Ref<Dispatch>&, const BStr&, int16_t Occurrence) override
    {
        return record({Occurrence});
    }
    int16_t PopupClickOk() override { return 0; }
    int16_t PopupClickCancel() override { return 0; }
    int32_t GetLastActionMilliseconds() override { return 0; }
    int16_t WaitForText(const BStr&, int16_t Seconds) override { return record({Seconds}); }
    int16_t WaitForElement(const BStr&, int16_t Seconds) override { return record({Seconds}); }
    void SetPopupTimeout(int16_t) override {}

private:
    int16_t record(std::vector<Variant> values)
    {
        optional = std::move(values);
        return 0;
    }
};

class RecordingExcelConn final : public _ExcelConn {
public:
    std::vector<Variant> optional;

    Ref<Dispatch> GetXL() override { return nullptr; }
    void SaveWorkbook(const BStr&, const BStr& DefaultSheet) override { optional = {DefaultSheet}; }
};

// The C++ interfaces repeat the descriptor's defaults of the optional parameters; a call that leaves
// them out must get the same values whether it is bound early (C++) or late (by name).
TEST(DefaultArguments, TheInterfacesGiveTheDescriptorsDefaults)
{
    auto recording = make_object<RecordingBrowser>();
    _Browser& browser = *recording;
    const Variant document = Ref<Dispatch>(recording);
    const auto late = [&](std::u16string_view member, std::vector<Variant> args) {
        invoke(*recording, member, args);
        return recording->optional;
    };
    const auto early = [&](auto call) {
        call();
        return recording->optional;
    };
    const Ref<Dispatch> doc = recording;

    EXPECT_EQ(early([&] { browser.MatchInnerText(doc, u"a", u"b"); }), late(u"MatchInnerText", {document, u"a", u"b"}));
    EXPECT_EQ(early([&] { browser.ImageExists(doc, u"a"); }), late(u"ImageExists", {document, u"a"}));
    EXPECT_EQ(early([&] { browser.LinkExists(doc, u"a"); }), late(u"LinkExists", {document, u"a"}));
    EXPECT_EQ(early([&] { browser.ClickLink(doc, u"a"); }), late(u"ClickLink", {document, u"a"}));
    EXPECT_EQ(early([&] { browser.ClickFormButton(doc, u"a"); }), late(u"ClickFormButton", {document, u"a"}));
    EXPECT_EQ(early([&] { browser.WaitForText(u"a"); }), late(u"WaitForText", {u"a"}));
    EXPECT_EQ(early([&] { browser.WaitForElement(u"a"); }), late(u"WaitForElement", {u"a"}));

    auto workbook = make_object<RecordingExcelConn>();
    _ExcelConn& conn = *workbook;
    conn.SaveWorkbook(u"out.xls");
    const auto early_sheet = workbook->optional;
    invoke(*workbook, u"SaveWorkbook", std::vector<Variant>{u"out.xls"});
    EXPECT_EQ(early_sheet, workbook->optional);
}

// Every optional parameter of the descriptor is one that the test above calls without.
TEST(DefaultArguments, EveryOptionalParameterIsCovered)
{
    std::vector<std::u16string_view> with_defaults;
    for (const auto& cls : library_descriptor().classes) {
        for (const auto& member : cls.members) {
            for (const auto& param : member.params) {
                if (param.default_value) {
                    with_defaults.push_back(member.name);
                    break;
                }
            }
        }
    }
    EXPECT_EQ(with_defaults, (std::vector<std::u16string_view>{u"MatchInnerText", u"ImageExists", u"LinkExists",
                                                               u"ClickLink", u"ClickFormButton", u"WaitForText",
                                                               u"WaitForElement", u"SaveWorkbook"}));
}

}  // namespace
}  // namespace varne
