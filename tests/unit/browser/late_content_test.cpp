#include "browser_fixture.h"

namespace varne::testing {
namespace {

constexpr char16_t kPage[] = u"http://127.0.0.1/";

class LateContentTest : public BrowserTest {
protected:
    LateContentTest()
    {
        model.add_page(kPage, page);
        app().load(kPage);
        open_log();
    }

    // A text that the body shows from its read number `first_shown` (from 1) on.
    static std::function<BStr()> shown_from(int32_t first_shown, BStr text)
    {
        auto reads = std::make_shared<int32_t>(0);
        return [=] { return ++*reads >= first_shown ? u"Order\n" + text + u"\nThanks" : BStr(u"Order"); };
    }

    Ref<FakeDocument> page = model.document();
};

TEST_F(LateContentTest, TextIsFoundAsSoonAsTheBodyShowsIt)
{
    page->set_body_text(shown_from(16, u"Total: 3 items"));

    EXPECT_EQ(browser->WaitForText(u"  Total: 3", 30), 0);
    EXPECT_EQ(page->body_reads(), 16);
    EXPECT_EQ(clock.sleeps(), 15);
    EXPECT_EQ(clock.slept_ms(), 1500);
    EXPECT_TRUE(appended().empty());

    EXPECT_EQ(browser->WaitForText(u"Total:\n3", 0), -1) << "a line break is no space";
    EXPECT_EQ(browser->WaitForText(u"total: 3", 0), -1) << "case counts";
}

TEST_F(LateContentTest, TextThatNeverComesTimesOutWithALogLine)
{
    page->set_body_text([] { return BStr(u"Order"); });

    EXPECT_EQ(browser->WaitForText(u"Total", 2), -1);
    EXPECT_EQ(page->body_reads(), 21);
    EXPECT_EQ(clock.sleeps(), 20);
    EXPECT_EQ(browser->WaitForText(u"Total", 0), -1);
    EXPECT_EQ(page->body_reads(), 22) << "no time: one look";
    EXPECT_EQ(appended(), (std::vector<std::string>{"Text \"Total\" not shown after 2 seconds",
                                                    "Text \"Total\" not shown after 0 seconds"}));

    clock = ManualClock();
    EXPECT_EQ(invoke(*browser, u"WaitForText", std::vector<Variant>{BStr(u"Total")}), Variant(int16_t(-1)));
    EXPECT_EQ(clock.slept_ms(), 30000) << "30 seconds unless told";
}

TEST_F(LateContentTest, FramesAreSearchedAndThoseOfAnotherOriginPassedOver)
{
    auto foreign = model.document();
    foreign->set_foreign().set_body_text([] { return BStr(u"Total"); });
    auto inner = model.document();
    inner->set_body_text(shown_from(3, u"Total"));
    auto middle = model.document();
    middle->add_frame(model.frame(inner));
    page->add_frame(model.frame(foreign)).add_frame(model.frame(middle));
    page->set_body_text([] { return BStr(u"Frames"); });

    EXPECT_EQ(browser->WaitForText(u"Total", 5), 0);
    EXPECT_EQ(inner->body_reads(), 3);
    EXPECT_EQ(clock.sleeps(), 2);
    EXPECT_EQ(foreign->body_reads(), 0);
}

TEST_F(LateContentTest, AnElementIsFoundBySelectorInAnyReadableDocument)
{
    std::vector<BStr> asked;
    int32_t calls = 0;
    auto frame_document = model.document();
    frame_document->set_selector_matches([&](const BStr& selector) {
        asked.push_back(selector);
        return selector != u"#none" && ++calls >= 4;
    });
    page->add_frame(model.frame(frame_document));

    EXPECT_EQ(browser->WaitForElement(u"#total > span", 30), 0);
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(clock.sleeps(), 3);
    EXPECT_EQ(asked.front(), u"#total > span");

    EXPECT_EQ(browser->WaitForElement(u"#none", 1), -1) << "the page's own document finds nothing either";
    EXPECT_EQ(clock.sleeps(), 3 + 10);
    EXPECT_EQ(appended(), std::vector<std::string>{"Element \"#none\" not found after 1 seconds"});
}

TEST_F(LateContentTest, NegativeSecondsAreRefusedBeforeAnyLook)
{
    auto error = raised([&] { browser->WaitForElement(u"#x", -1); });
    EXPECT_EQ(error.number(), 5);
    EXPECT_EQ(error.description(), "Invalid procedure call or argument: Seconds of WaitForElement must be 0 or more "
                                   "(given -1)");
    EXPECT_EQ(raised([&] { browser->WaitForText(u"x", -5); }).number(), 5);
    EXPECT_EQ(page->body_reads(), 0);
    EXPECT_TRUE(appended().empty());
}

}  // namespace
}  // namespace varne::testing
