#include "browser_fixture.h"

namespace varne::testing {
namespace {

using dom::ElementProperty;

class ClickTest : public BrowserTest {
protected:
    ClickTest()
    {
        page = model.document();
        model.add_page(u"http://127.0.0.1/", page);
        app().load(u"http://127.0.0.1/");
        open_log();
    }

    // A click that takes `seconds` itself and starts a load that completes after `checks` checks.
    std::function<void()> starts_load(int32_t checks, int64_t seconds = 0)
    {
        return [this, checks, seconds] {
            clock.advance(seconds);
            app().start_load(Loading::after(checks));
        };
    }
    Ref<FakeDocument> page;
};

TEST_F(ClickTest, AnInvalidIdentMethodReadsNothingAndLogsNothing)
{
    page->append(model.link(u"Next"));
    model.calls().clear();

    EXPECT_EQ(browser->ClickLink(page, u"Next", BrowserIdentType(0)), -2);
    EXPECT_EQ(browser->ClickLink(page, u"Next", BrowserIdentType(4)), -2);
    EXPECT_EQ(model.calls().count(), 0);
    EXPECT_TRUE(appended().empty());
}

TEST_F(ClickTest, TextLinksAreChosenByOccurrenceAmongTheMatchingLinks)
{
    auto first = model.link(u" Next");
    auto second = model.link(u"Next  ");
    first->on_click(starts_load(3));
    second->on_click(starts_load(3));
    page->append(first).append(model.link(u"Other")).append(second);

    EXPECT_EQ(browser->ClickLink(page, u"Next", brwInnerText, 1), 0);
    EXPECT_EQ(first->clicks(), 0);
    EXPECT_EQ(second->clicks(), 1);
    EXPECT_EQ(clock.sleeps(), 3);
    EXPECT_EQ(browser->ClickLink(page, u"Next", brwInnerText, 2), -1);
    EXPECT_EQ(browser->ClickLink(page, u"Next", brwInnerText, -1), -1);
    EXPECT_EQ(browser->ClickLink(page, u" Next"), -1) << "the given text is not trimmed";
    EXPECT_EQ(second->clicks() + first->clicks(), 1);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Clicked text link \"Next\" [0 days 00:00:00]",
                              "Text link not found \"Next\"",
                              "Text link not found \"Next\"",
                              "Text link not found \" Next\"",
                          }));
}

TEST_F(ClickTest, GraphicLinksAreChosenByTheirFirstDirectImage)
{
    auto wrapped = model.link(u"");
    auto span = model.element(u"SPAN");
    span->append(model.image(u"Logo", u"logo.gif"));
    wrapped->append(span);
    auto links = std::vector{link_with_image(u"Logo", u"a.gif"), link_with_image(u" Logo ", u"b.gif"),
                             link_with_image(u"Logo", u"c.gif")};
    page->append(wrapped).append(links[0]).append(model.link(u"Logo")).append(links[1]).append(links[2]);

    EXPECT_EQ(browser->ClickLink(page, u"Logo", brwImgAlt, 2), 0);
    EXPECT_EQ(links[2]->clicks(), 1);
    EXPECT_EQ(wrapped->clicks(), 0);
    EXPECT_EQ(browser->ClickLink(page, u"b.gif", brwImgSrc), 0);
    EXPECT_EQ(links[1]->clicks(), 1);
    EXPECT_EQ(browser->ClickLink(page, u"Logo", brwImgAlt, 3), -1);
    EXPECT_EQ(browser->ClickLink(page, u"logo.gif", brwImgSrc), -1);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Clicked graphic link \"Logo\" (2) [0 days 00:00:00]",
                              "Clicked graphic link \"b.gif\" (0) [0 days 00:00:00]",
                          }))
        << "a graphic link that is not found adds no line";
}

TEST_F(ClickTest, ATextLinkTimesTheWaitAloneAndAGraphicLinkTheClickToo)
{
    auto text = model.link(u"Next");
    text->on_click(starts_load(20, 5));
    auto graphic = link_with_image(u"Next", u"next.gif");
    graphic->on_click(starts_load(20, 5));
    page->append(text).append(graphic);

    EXPECT_EQ(browser->ClickLink(page, u"Next"), 0);
    EXPECT_EQ(browser->ClickLink(page, u"Next", brwImgAlt), 0);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Clicked text link \"Next\" [0 days 00:00:02]",
                              "Clicked graphic link \"Next\" (0) [0 days 00:00:07]",
                          }));
}

// The page shows an alert as it loads: its scripts stop until it is answered, and each click
// returns at once with it open.
TEST_F(ClickTest, AClickThatOpensADialogReturnsAtOnceAndSaysSo)
{
    constexpr int32_t kDialog = 0x20020;
    auto opens_dialog = [this] {
        windows.open_popup(FakeDocumentModel::kWindowHandle, kDialog, {{"OK", kDialog + 1}});
        app().start_load(Loading::done());
    };
    auto text = model.link(u"Next");
    text->on_click(opens_dialog);
    auto graphic = link_with_image(u"Next", u"next.gif");
    graphic->on_click(opens_dialog);
    auto form = model.form(u"order");
    auto send = model.input(u"submit", u"Send");
    send->on_click(opens_dialog);
    form->append(send);
    page->append(text).append(graphic).append(form);

    EXPECT_EQ(browser->ClickLink(page, u"Next"), 0);
    EXPECT_EQ(appended().back(), "Clicked text link \"Next\" [0 days 00:00:00]");
    EXPECT_EQ(browser->ClickLink(page, u"Next", brwImgAlt), 0);
    EXPECT_EQ(appended().back(), "Clicked graphic link \"Next\" (0) [0 days 00:00:00]");
    EXPECT_EQ(browser->ClickFormButton(form, u"Send"), 0);
    EXPECT_EQ(appended().back(), "Clicked form button \"Send\" [0 days 00:00:00]");
    EXPECT_EQ(clock.sleeps(), 0);
}

TEST_F(ClickTest, AClickWhoseWaitRunsOutStillSucceedsAfterTheTimeOutLine)
{
    auto link = model.link(u"Next");
    link->on_click([this] { app().start_load(Loading::never()); });
    // The wait is for the object's own window, whatever document the link came from.
    auto elsewhere = model.document();
    elsewhere->append(link);

    EXPECT_EQ(browser->ClickLink(elsewhere, u"Next"), 0);
    EXPECT_EQ(clock.sleeps(), 301);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Browser not ready after 30 seconds",
                              "Clicked text link \"Next\" [0 days 00:00:30]",
                          }));
}

TEST_F(ClickTest, FormButtonsAreSubmitOrButtonInputsWithExactlyThatValue)
{
    auto form = model.form(u"order");
    auto lower_submit = model.input(u"submit", u"Go");
    auto push_button = model.input(u"Button", u"Go");
    auto spaced = model.input(u"SUBMIT", u" Go ");
    auto tag_button = model.element(u"BUTTON");
    tag_button->set(ElementProperty::type, u"submit").set(ElementProperty::value, u"Go");
    form->append(model.input(u"text", u"Go")).append(model.input(u"reset", u"Go")).append(model.input(u"image", u"Go"));
    form->append(tag_button).append(model.input(u"submit", u"Go ")).append(model.input(u"submit", u"go"));
    form->append(lower_submit).append(push_button).append(spaced);
    lower_submit->on_click(starts_load(4, 1));
    page->append(form);

    EXPECT_EQ(browser->ClickFormButton(form, u"Go"), 0);
    EXPECT_EQ(lower_submit->clicks(), 1);
    EXPECT_EQ(browser->ClickFormButton(form, u"Go", 1), 0);
    EXPECT_EQ(push_button->clicks(), 1);
    EXPECT_EQ(browser->ClickFormButton(form, u"Go", 2), -1);
    EXPECT_EQ(browser->ClickFormButton(form, u" Go "), 0);
    EXPECT_EQ(spaced->clicks(), 1);
    EXPECT_EQ(tag_button->clicks(), 0);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Clicked form button \"Go\" [0 days 00:00:01]",
                              "Clicked form button \"Go\" [0 days 00:00:00]",
                              "Clicked form button \" Go \" [0 days 00:00:00]",
                          }));
}

TEST_F(ClickTest, AFormThatChangesWhileItIsReadIsSeenAsEachReadFindsIt)
{
    auto form = model.form(u"order");
    auto first = model.input(u"submit", u"Go");
    form->append(model.input(u"text", u"Go")).append(first).append(model.input(u"submit", u"Go"));
    page->append(form);
    // Between the read of the types and that of the values the page drops the form's last input.
    auto drop_last_after_types = [&] {
        int reads = 0;
        model.calls().observe([&, reads](const std::string& call) mutable {
            if (call == "ElementCollection.read_each" && ++reads == 1)
                form->remove_last_child();
        });
    };

    drop_last_after_types();
    EXPECT_EQ(browser->ClickFormButton(form, u"Go"), 0) << "the inputs read both times answer";
    EXPECT_EQ(first->clicks(), 1);

    form->append(model.input(u"submit", u"Go"));
    drop_last_after_types();
    auto error = raised([&] { browser->ClickFormButton(form, u"Go", 1); });
    EXPECT_EQ(error.number(), 9) << "the input that went fails as a read of it fails";
    EXPECT_EQ(error.description(), "No item at position 2 of a collection of 2");

    // One that comes between the reads is not walked over: the walk is that of the first read.
    model.calls().observe([&, reads = 0](const std::string& call) mutable {
        if (call == "ElementCollection.read_each" && ++reads == 1)
            form->append(model.input(u"submit", u"Go"));
    });
    EXPECT_EQ(browser->ClickFormButton(form, u"Go", 1), -1);
    model.calls().observe({});
    EXPECT_EQ(appended(), std::vector<std::string>{"Clicked form button \"Go\" [0 days 00:00:00]"});
}

TEST_F(ClickTest, ScriptsClickByLateBindingWithTheDefaults)
{
    auto form = model.form(u"order");
    auto submit = model.input(u"submit", u"Send");
    form->append(submit);
    auto link = model.link(u"Next");
    page->append(link).append(form);
    Variant document = top_document();
    Variant first_form = call_default(*to_object(get_property(*document.object(), u"forms")), std::vector<Variant>{0});

    EXPECT_EQ(invoke(*browser, u"ClickLink", std::vector<Variant>{document, u"Next"}), Variant(int16_t(0)));
    EXPECT_EQ(invoke(*browser, u"ClickFormButton", std::vector<Variant>{first_form, u"Send"}), Variant(int16_t(0)));
    EXPECT_EQ(link->clicks(), 1);
    EXPECT_EQ(submit->clicks(), 1);
}

TEST_F(ClickTest, ClicksMakeTheSameNumberOfPortCallsWhateverTheDocumentSize)
{
    auto calls_for = [&](int items) {
        auto document = model.document();
        auto form = model.form(u"form");
        for (int i = 0; i < items; ++i) {
            document->append(model.link(u"Link")).append(link_with_image(u"Logo", u"logo.gif"));
            form->append(model.input(u"submit", u"Go"));
        }
        document->append(form);
        std::vector<int64_t> counts;
        auto count = [&](auto call) {
            model.calls().clear();
            call();
            counts.push_back(model.calls().count());
        };
        count([&] { browser->ClickLink(document, u"Link", brwInnerText, int16_t(items - 1)); });
        count([&] { browser->ClickLink(document, u"Logo", brwImgAlt, int16_t(items - 1)); });
        count([&] { browser->ClickFormButton(form, u"Go", int16_t(items - 1)); });
        return counts;
    };
    auto small = calls_for(3);
    EXPECT_EQ(calls_for(2000), small);
    // The walk's one or two bulk reads, the click and a wait on a loaded page without frames.
    EXPECT_EQ(small, (std::vector<int64_t>{12, 12, 17}));
}

TEST_F(ClickTest, AWalkOf32768LinksOverflowsUnlessItChoosesTheLast)
{
    for (int i = 0; i < 32767; ++i)
        page->append(model.link(u"Link"));
    page->append(model.link(u"Last"));

    EXPECT_EQ(browser->ClickLink(page, u"Last"), 0);
    EXPECT_EQ(raised([&] { browser->ClickLink(page, u"Missing"); }).number(), error_number::kOverflow);
    EXPECT_EQ(appended(), std::vector<std::string>{"Clicked text link \"Last\" [0 days 00:00:00]"});
    page->append(model.link(u"Last"));
    EXPECT_EQ(raised([&] { browser->ClickLink(page, u"Link"); }).number(), error_number::kOverflow);
}

TEST_F(ClickTest, ALoadThatAClickStartsAndThatFailsIsLoggedBeforeTheClicksLine)
{
    auto link = model.link(u"Shop");
    auto button = model.input(u"submit", u"Buy");
    auto form = model.form(u"order");
    form->append(button);
    page->append(link).append(form);
    model.add_page(u"http://shop.invalid/", model.document());
    model.fail_page(u"http://shop.invalid/", u"net::ERR_NAME_NOT_RESOLVED");
    link->on_click([this] { app().load(u"http://shop.invalid/"); });
    button->on_click([this] { model.report_failure(u"http://127.0.0.1/order", u"HTTP 500 Internal Server Error"); });
    model.report_failure(u"http://127.0.0.1/before", u"net::ERR_ABORTED");

    EXPECT_EQ(browser->ClickLink(page, u"Shop"), 0);
    EXPECT_EQ(browser->ClickFormButton(form, u"Buy"), 0);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Could not load \"http://shop.invalid/\": net::ERR_NAME_NOT_RESOLVED",
                              "Clicked text link \"Shop\" [0 days 00:00:00]",
                              "Could not load \"http://127.0.0.1/order\": HTTP 500 Internal Server Error",
                              "Clicked form button \"Buy\" [0 days 00:00:00]",
                          }));
}

}  // namespace
}  // namespace varne::testing
