#include "browser_fixture.h"

#include "browser/common.h"

namespace varne::testing {
namespace {

using Call = FakeWindowFunctions::Call;

constexpr int32_t kWindow = FakeDocumentModel::kWindowHandle;
constexpr int32_t kPopup = 0x20020;
constexpr int32_t kOkButton = 0x20021;
constexpr int32_t kCancelButton = 0x20022;

class PopupTest : public BrowserTest {
protected:
    PopupTest() { open_log(); }

    void open_dialog(int32_t opens_at_check = 1)
    {
        windows.open_popup(kWindow, kPopup, {{"OK", kOkButton}, {"Cancel", kCancelButton}}, opens_at_check);
    }
};

TEST_F(PopupTest, AnOpenPopupIsFoundAtOnceAndItsButtonClicked)
{
    open_dialog();

    EXPECT_EQ(browser->PopupClickOk(), 0);
    EXPECT_EQ(clock.sleeps(), 0);
    EXPECT_EQ(windows.calls(), (std::vector<Call>{
                                   {"GetLastActivePopup", {kWindow}, {}},
                                   {"SetForegroundWindow", {kPopup}, {}},
                                   {"SetActiveWindow", {kPopup}, {}},
                                   {"FindWindowExA", {kPopup, 0}, {"Button", "OK"}},
                                   {"SetActiveWindow", {kOkButton}, {}},
                                   {"SendMessageA", {kOkButton, 245, 0, 0}, {}},
                               }));
    EXPECT_FALSE(windows.is_open(kPopup));
    EXPECT_EQ(appended(), std::vector<std::string>{"Popup \"OK\" button clicked [0 days 00:00:00]"});
}

TEST_F(PopupTest, WithoutAPopupTheSearchGivesUpAfter300Waits)
{
    EXPECT_EQ(browser->PopupClickCancel(), -1);
    EXPECT_EQ(clock.sleeps(), 300);
    EXPECT_EQ(windows.popup_checks(), 300);
    EXPECT_EQ(appended(), std::vector<std::string>{"Popup window timed out"});
}

TEST_F(PopupTest, AShorterSearchStillFindsADialogThatComesInTime)
{
    browser->SetPopupTimeout(2);
    EXPECT_EQ(browser->PopupClickOk(), -1);
    EXPECT_EQ(clock.sleeps(), 20);
    EXPECT_EQ(windows.popup_checks(), 20);

    open_dialog(20 + 15);
    EXPECT_EQ(browser->PopupClickOk(), 0);
    EXPECT_EQ(appended(),
              (std::vector<std::string>{"Popup window timed out", "Popup \"OK\" button clicked [0 days 00:00:01]"}));

    for (int16_t seconds : {0, 31, -1})
        EXPECT_EQ(raised([&] { browser->SetPopupTimeout(seconds); }).number(), 5) << seconds;
    EXPECT_EQ(raised([&] { browser->SetPopupTimeout(0); }).description(),
              "Invalid procedure call or argument: Seconds of SetPopupTimeout must be 1 to 30 (given 0)");
    browser->SetPopupTimeout(30);
    EXPECT_EQ(browser->PopupClickCancel(), -1);
    EXPECT_EQ(windows.popup_checks(), 20 + 15 + 300);
}

TEST_F(PopupTest, APopupThatOpensDuringTheLastWaitIsNotSeen)
{
    open_dialog(301);
    EXPECT_EQ(browser->PopupClickOk(), -1);
    EXPECT_EQ(windows.popup_checks(), 300);
    EXPECT_EQ(windows.clicked(), std::vector<int32_t>{});
}

TEST_F(PopupTest, APopupThatOpensBeforeTheLastCheckIsClicked)
{
    open_dialog(300);
    EXPECT_EQ(browser->PopupClickOk(), 0);
    EXPECT_EQ(clock.sleeps(), 299);
    EXPECT_EQ(appended(), std::vector<std::string>{"Popup \"OK\" button clicked [0 days 00:00:29]"});
}

TEST_F(PopupTest, APopupHandleOf0IsAnErrorAtOnce)
{
    windows.answer_popup_checks(kWindow, 0);
    EXPECT_EQ(browser->PopupClickOk(), -2);
    EXPECT_EQ(clock.sleeps(), 0);
    EXPECT_EQ(appended(), std::vector<std::string>{"Error locating popup window"});
}

TEST_F(PopupTest, CancelOnADialogWithOnlyOkLeavesTheDialogOpen)
{
    windows.open_popup(kWindow, kPopup, {{"OK", kOkButton}});
    windows.add_child(kPopup, {0x20023, "Static", "Cancel"});

    EXPECT_EQ(browser->PopupClickCancel(), -3);
    EXPECT_TRUE(windows.is_open(kPopup));
    EXPECT_EQ(windows.clicked(), std::vector<int32_t>{});
    EXPECT_EQ(appended(), std::vector<std::string>{"Error clicking button"});
}

TEST_F(PopupTest, ASuccessAfterAFailureTimesOnlyItsOwnSearch)
{
    open_dialog(300 + 25);
    EXPECT_EQ(browser->PopupClickOk(), -1);
    EXPECT_EQ(browser->PopupClickOk(), 0);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Popup window timed out",
                              "Popup \"OK\" button clicked [0 days 00:00:02]",
                          }));
}

TEST_F(PopupTest, TheSearchStartsTheSharedWaitCounterFromZero)
{
    open_dialog(5);
    Common::wait_counter() = 29900;
    EXPECT_EQ(browser->PopupClickOk(), 0);
    EXPECT_EQ(clock.sleeps(), 4);
}

TEST_F(PopupTest, ClickWindowButtonNeedsAWindowAndAButtonOfThatCaption)
{
    windows.open_popup(kWindow, kPopup, {{"OK", kOkButton}});
    windows.add_child(kPopup, {0x20023, "Static", "Cancel"});
    Win32API win32{windows, clock};

    EXPECT_EQ(Common::ClickWindowButton(win32, 0, u"OK"), -2);
    EXPECT_TRUE(windows.calls().empty());
    EXPECT_EQ(Common::ClickWindowButton(win32, kPopup, u"Cancel"), -1);
    EXPECT_EQ(Common::ClickWindowButton(win32, kPopup, u"ok"), -1);
    EXPECT_EQ(Common::ClickWindowButton(win32, kPopup, u"OK"), 0);
    EXPECT_EQ(windows.clicked(), std::vector<int32_t>{kOkButton});
}

// A window handle of 0: an answer of 0 equals it and means no popup.
class ZeroWindowPopupTest : public BrowserTest {
protected:
    ZeroWindowPopupTest() : BrowserTest(0) { open_log(); }
};

TEST_F(ZeroWindowPopupTest, AnAnswerOf0CountsAsNoPopup)
{
    windows.answer_popup_checks(0, 0);
    EXPECT_EQ(browser->GetBrowserHWnd(), 0);
    EXPECT_EQ(browser->PopupClickOk(), -1);
    EXPECT_EQ(clock.sleeps(), 300);
    EXPECT_EQ(appended(), std::vector<std::string>{"Popup window timed out"});
}

}  // namespace
}  // namespace varne::testing
