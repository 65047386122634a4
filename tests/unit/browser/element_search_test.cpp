#include "browser_fixture.h"

namespace varne::testing {
namespace {

using dom::ElementProperty;

class ElementSearchTest : public BrowserTest {
protected:
    ElementSearchTest() { page = model.document(); }

    int16_t match(const BStr& element_text, const BStr& search, BrowserMatchType how)
    {
        auto document = model.document();
        document->append(model.element(u"P", element_text));
        return browser->MatchInnerText(document, search, u"P", how);
    }

    Ref<FakeDocument> page;
};

TEST_F(ElementSearchTest, MatchInnerTextLooksAtTheElementAtTheOccurrenceOnly)
{
    page->append(model.element(u"P", u"one")).append(model.element(u"DIV", u"two"));
    page->append(model.element(u"P", u"two")).append(model.element(u"P", u"three"));

    EXPECT_EQ(browser->MatchInnerText(page, u"three", u"P", brwExactMatch, 2), 0);
    EXPECT_EQ(browser->MatchInnerText(page, u"two", u"P", brwExactMatch, 2), 1);
    EXPECT_EQ(browser->MatchInnerText(page, u"two", u"P"), 1) << "occurrence 0 is the first P, not the first match";
    EXPECT_EQ(browser->MatchInnerText(page, u"three", u"P", brwExactMatch, 3), -2);
    EXPECT_EQ(browser->MatchInnerText(page, u"one", u"P", BrowserMatchType(4), 0), -1);
    EXPECT_EQ(browser->MatchInnerText(page, u"one", u"P", BrowserMatchType(4), 3), -2);
    EXPECT_EQ(browser->MatchInnerText(page, u"one", u"TABLE"), -2);
    EXPECT_EQ(raised([&] { browser->MatchInnerText(page, u"one", u"P", brwExactMatch, -1); }).number(),
              error_number::kSubscriptOutOfRange)
        << "a negative occurrence is handed to the object model";
}

// Exact matches trim spaces (U+0020) on both sides and nothing else; left and right matches cut
// the untrimmed texts, in UTF-16 code units, before trimming.
TEST_F(ElementSearchTest, MatchInnerTextComparesAsEachMatchTypeCuts)
{
    struct Case {
        std::u16string element_text;
        std::u16string search;
        BrowserMatchType how;
        int16_t result;
        const char* why;
    };
    const Case cases[] = {
        {u"  Hello  ", u"Hello ", brwExactMatch, 0, "spaces on both sides"},
        {u"  Hello  ", u"hello", brwExactMatch, 1, "case counts"},
        {u"\tHello", u"Hello", brwExactMatch, 1, "a tab is no space"},
        {u"Hello\u00A0", u"Hello", brwExactMatch, 1, "nor a no-break space"},
        {u"Hello\r\n", u"Hello", brwExactMatch, 1, "nor a line end"},
        {u"   ", u"", brwExactMatch, 0, "spaces trim to nothing"},
        {u"x", u"", brwExactMatch, 1, "nothing matches only nothing"},
        {u"Welcome", u"Wel", brwLeftMatch, 0, "the left three"},
        {u"Welcome", u"  Wel", brwLeftMatch, 1, "'Welco' against 'Wel'"},
        {u"Wel", u"Wel  ", brwLeftMatch, 0, "a cut longer than the text takes all of it"},
        {u" Welcome", u"Wel", brwLeftMatch, 1, "' We' trims to 'We'"},
        {u"Go home ", u"home", brwRightMatch, 1, "the last four are 'ome '"},
        {u"Go home", u"home", brwRightMatch, 0, "the right four"},
        {u"Go home", u" home", brwRightMatch, 0, "' home' against 'home'"},
        {u"anything", u"", brwLeftMatch, 0, "an empty cut"},
        {u"anything", u"", brwRightMatch, 0, "an empty cut"},
        {u"\U0001F600abc", u"\U0001F600a", brwLeftMatch, 0, "U+1F600 is two code units"},
        {u"\U0001F600abc", u"\xD83D", brwLeftMatch, 0, "a cut of one takes its first half"},
        {u"abc\U0001F600", u"c\U0001F600", brwRightMatch, 0, "U+1F600 at the end"},
        {u"abc\U0001F600", u"\xDE00", brwRightMatch, 0, "its second half"},
        {u"\u00E9t\u00E9", u"\u00E9", brwRightMatch, 0, "one code unit"},
    };
    for (const auto& each : cases)
        EXPECT_EQ(match(each.element_text, each.search, each.how), each.result) << each.why;
}

TEST_F(ElementSearchTest, FormExistsGivesThePositionOfTheFirstFormWithThatName)
{
    EXPECT_EQ(browser->FormExists(page, u"login"), -1);
    page->append(model.form(u"search")).append(model.form(u" login ")).append(model.form(u"login"));

    EXPECT_EQ(browser->FormExists(page, u"login"), 1);
    EXPECT_EQ(browser->FormExists(page, u"search"), 0);
    EXPECT_EQ(browser->FormExists(page, u" login"), -1);
    EXPECT_EQ(browser->FormExists(page, u"Login"), -1);
}

TEST_F(ElementSearchTest, ImageExistsCountsImagesAndAnswersMinusOneForNone)
{
    for (auto method : {brwImgAlt, brwImgSrc, brwInnerText, BrowserIdentType(0)})
        EXPECT_EQ(browser->ImageExists(page, u"Logo", method), -1) << "no image at all, method " << method;

    page->append(model.image(u"Logo", u"logo.gif")).append(model.image(u" Logo", u"logo.gif"));
    page->append(model.element(u"DIV")).append(model.image(u"Logo ", u"other.png"));

    EXPECT_EQ(browser->ImageExists(page, u"Logo"), 3);
    EXPECT_EQ(browser->ImageExists(page, u"logo"), -1);
    EXPECT_EQ(browser->ImageExists(page, u"logo.gif", brwImgSrc), 2);
    EXPECT_EQ(browser->ImageExists(page, u"http://127.0.0.1/img/logo.gif", brwImgSrc), -1);
    EXPECT_EQ(browser->ImageExists(page, u"Logo", brwInnerText), -2);
    EXPECT_EQ(browser->ImageExists(page, u"Logo", BrowserIdentType(0)), -2);
}

TEST_F(ElementSearchTest, LinkExistsCountsLinksAndAnswersZeroForNone)
{
    EXPECT_EQ(browser->LinkExists(page, u"Next"), 0);
    EXPECT_EQ(browser->LinkExists(page, u"Next", BrowserIdentType(4)), 0) << "no link to judge the choice at";

    page->append(model.link(u" Next ")).append(model.link(u"next")).append(model.link(u"Next"));
    page->append(model.element(u"SPAN", u"Next"));

    EXPECT_EQ(browser->LinkExists(page, u"Next"), 2);
    EXPECT_EQ(browser->LinkExists(page, u"Previous"), 0);
    EXPECT_EQ(browser->LinkExists(page, u"Next", BrowserIdentType(0)), -1);
    EXPECT_EQ(browser->LinkExists(page, u"Next", BrowserIdentType(4)), -1);
}

TEST_F(ElementSearchTest, LinkExistsByImageSeesOnlyTheFirstDirectImage)
{
    auto wrapped = model.link(u"");
    auto span = model.element(u"SPAN");
    span->append(model.image(u"Home", u"home.gif"));
    wrapped->append(span);
    auto two_images = model.link(u"");
    two_images->append(model.image(u"Back", u"back.gif")).append(model.image(u"Home", u"home.gif"));
    page->append(wrapped).append(two_images).append(link_with_image(u" Home", u"home.gif"));
    page->append(link_with_image(u"Home", u"home.png")).append(model.link(u"Home"));

    EXPECT_EQ(browser->LinkExists(page, u"Home", brwImgAlt), 2);
    EXPECT_EQ(browser->LinkExists(page, u"Back", brwImgAlt), 1);
    EXPECT_EQ(browser->LinkExists(page, u"home.gif", brwImgSrc), 1);
}

TEST_F(ElementSearchTest, ScriptsHandTheBrowsersOwnDocumentBackByLateBinding)
{
    page->append(model.link(u"Next")).append(model.form(u"login"));
    model.add_page(u"http://127.0.0.1/", page);
    app().load(u"http://127.0.0.1/");
    Ref<Dispatch> application = browser->GetBrowser();
    Variant document = get_property(*application, u"Document");

    EXPECT_EQ(invoke(*browser, u"LinkExists", std::vector<Variant>{document, u"Next"}), Variant(int16_t(1)));
    EXPECT_EQ(invoke(*browser, u"FormExists", std::vector<Variant>{document, u"login"}), Variant(int16_t(0)));
    EXPECT_EQ(invoke(*browser, u"MatchInnerText", std::vector<Variant>{document, u"Nex", u"a", int32_t(brwLeftMatch)}),
              Variant(int16_t(0)));
    auto error = raised([&] { invoke(*browser, u"LinkExists", std::vector<Variant>{Variant(), u"Next"}); });
    EXPECT_EQ(error.number(), error_number::kObjectRequired);
}

TEST_F(ElementSearchTest, EverySearchMakesTheSameNumberOfPortCallsWhateverTheDocumentSize)
{
    auto calls_for = [&](int items) {
        auto document = model.document();
        for (int i = 0; i < items; ++i) {
            auto link = model.link(u"Link");
            link->append(model.image(u"Logo", u"logo.gif"));
            document->append(link).append(model.form(u"form")).append(model.element(u"P", u"text"));
        }
        std::vector<int64_t> counts;
        auto count = [&](auto call) {
            model.calls().clear();
            call();
            counts.push_back(model.calls().count());
        };
        count([&] { browser->LinkExists(document, u"Link"); });
        count([&] { browser->LinkExists(document, u"Logo", brwImgAlt); });
        count([&] { browser->ImageExists(document, u"Logo"); });
        count([&] { browser->FormExists(document, u"missing"); });
        count([&] { browser->MatchInnerText(document, u"text", u"P", brwExactMatch, int16_t(items - 1)); });
        return counts;
    };
    auto small = calls_for(3);
    EXPECT_EQ(calls_for(2000), small);
    EXPECT_EQ(small, (std::vector<int64_t>{2, 2, 3, 2, 7}));
}

TEST_F(ElementSearchTest, WalksOverflowPast32767Positions)
{
    for (int i = 0; i < 32767; ++i)
        page->append(model.form(u"form")).append(model.image(u"Logo", u"logo.gif"));
    page->append(model.form(u"last")).append(model.image(u"Logo", u"logo.gif"));
    // 32,768 forms: a form found at the last position escapes the overflow; a walk past it does not.
    EXPECT_EQ(browser->FormExists(page, u"last"), 32767);
    EXPECT_EQ(raised([&] { browser->FormExists(page, u"missing"); }).number(), error_number::kOverflow);
    EXPECT_EQ(raised([&] { browser->ImageExists(page, u"none"); }).number(), error_number::kOverflow);
    EXPECT_EQ(browser->ImageExists(page, u"Logo", brwInnerText), -2);

    page->append(model.form(u"form")).append(model.image(u"Logo", u"logo.gif"));
    // 32,769: the walk fails before it begins, also where the first position would have answered.
    EXPECT_EQ(raised([&] { browser->FormExists(page, u"form"); }).number(), error_number::kOverflow);
    EXPECT_EQ(raised([&] { browser->ImageExists(page, u"Logo", brwInnerText); }).number(), error_number::kOverflow);
}

}  // namespace
}  // namespace varne::testing
