#include "browser_fixture.h"

#include <limits>

#include "frame/late_binding.h"

namespace varne::testing {
namespace {

class ArgumentErrorTest : public BrowserTest {
protected:
    AutomationError call(std::u16string_view member, std::vector<Variant> args)
    {
        return raised([&] { invoke(*browser, member, args); });
    }
};

TEST_F(ArgumentErrorTest, AMisplacedObjectIsNamedWithItsNumberKept)
{
    Ref<Dispatch> application = browser->GetBrowser();
    Ref<Dispatch> document = model.document();
    auto error = call(u"MatchInnerText", {application, BStr(u"x"), BStr(u"H1")});
    EXPECT_EQ(error.number(), 13);
    EXPECT_EQ(error.description(), "Browser.MatchInnerText: Document: expected a document, got the browser "
                                   "application (use GetBrowser().Document)");

    error = call(u"LinkExists", {Variant(), BStr(u"x")});
    EXPECT_EQ(error.number(), 424);
    EXPECT_EQ(error.description(), "Browser.LinkExists: Document: expected a document, got nothing (a null reference)");

    error = call(u"ClickFormButton", {document, BStr(u"Go")});
    EXPECT_EQ(error.number(), 13);
    EXPECT_EQ(error.description(), "Browser.ClickFormButton: FormElement: expected a form element, got a document "
                                   "(use document.forms.item(browser.FormExists(document, name)))");

    error = call(u"WaitForFrame", {Ref<Dispatch>(create_object(u"Varne.Timing"))});
    EXPECT_EQ(error.number(), 13);
    EXPECT_EQ(error.description(),
              "Browser.WaitForFrame: Window: expected a window or frame, got a Varne.Timing object");
}

TEST_F(ArgumentErrorTest, AMemberThatDoesNotReadTheObjectStillAnswersItsCode)
{
    // An IdentMethod out of range is answered before the document is looked at.
    EXPECT_EQ(invoke(*browser, u"ClickLink", std::vector<Variant>{Variant(), BStr(u"x"), int32_t(0)}),
              Variant(int16_t(-2)));
}

TEST_F(ArgumentErrorTest, ConversionsNameTheArgumentAndWhatCame)
{
    auto error = call(u"FrameGotoURL", {int32_t(40000), BStr(u"x")});
    EXPECT_EQ(error.number(), 6);
    EXPECT_EQ(error.description(),
              "Browser.FrameGotoURL: FrameNumber: expected a 16-bit integer (-32768 to 32767), got 40000 (overflow)");
    error = call(u"FrameGotoURL", {BStr(u"first"), BStr(u"x")});
    EXPECT_EQ(error.number(), 13);
    EXPECT_EQ(error.description(),
              "Browser.FrameGotoURL: FrameNumber: expected a 16-bit integer (-32768 to 32767), got the string 'first'");
    error = call(u"ClickLink", {Ref<Dispatch>(model.document()), BStr(u"x"), 1e300});
    EXPECT_EQ(error.number(), 6);
    EXPECT_EQ(error.description(),
              "Browser.ClickLink: IdentMethod: expected a BrowserIdentType number, got 1e+300 (overflow)");
    error = call(u"GotoURL", {std::numeric_limits<double>::infinity()});
    EXPECT_EQ(error.number(), 6);
    EXPECT_EQ(error.description(),
              "Browser.GotoURL: URL: expected a string, got a number too large to hold (overflow)");
}

}  // namespace
}  // namespace varne::testing
