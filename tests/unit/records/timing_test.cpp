#include "records/timing.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/manual_clock.h"

namespace varne {
namespace {

class TimingTest : public ::testing::Test {
protected:
    int32_t lapsed_error(const BStr& name, bool as_text)
    {
        try {
            if (as_text)
                timing->LapsedString(name);
            else
                timing->GetLapsed(name);
        } catch (const AutomationError& error) {
            EXPECT_EQ(error.description(), "Overflow");
            return error.number();
        }
        return 0;
    }

    testing::ManualClock clock{{1999, 9, 7, 14, 5, 9}};
    Ref<Timing> timing = make_object<Timing>(clock);
};

TEST_F(TimingTest, UnknownNamesAnswerTheMinusOneResults)
{
    timing->StartTiming(u"Known");
    timing->EndTiming(u"Never started");
    for (const BStr& name : {BStr(u"Never started"), BStr(u""), BStr(u"known")}) {
        EXPECT_EQ(timing->GetLapsed(name), -1);
        EXPECT_EQ(timing->GetStartTime(name), Variant(int16_t(-1)));
        EXPECT_EQ(timing->GetEndTime(name), Variant(int16_t(-1)));
        EXPECT_EQ(timing->LapsedString(name), u"<unknown timing>");
    }
}

TEST_F(TimingTest, RunsUntilEndedThenKeepsItsLapse)
{
    timing->StartTiming(u"Load");
    Variant start = timing->GetStartTime(u"Load");
    ASSERT_EQ(start.type(), VarType::Date);
    EXPECT_EQ(start.date(), clock.now());
    EXPECT_EQ(automation_date_seconds(timing->GetEndTime(u"Load").date()), automation_date_seconds(start.date()) - 1);
    EXPECT_EQ(timing->GetLapsed(u"Load"), 0);

    clock.advance(3);
    EXPECT_EQ(timing->GetLapsed(u"Load"), 3);
    EXPECT_EQ(timing->LapsedString(u"Load"), u"0 days 00:00:03");

    timing->EndTiming(u"Load");
    EXPECT_EQ(timing->GetEndTime(u"Load").date(), clock.now());
    clock.advance(500);
    EXPECT_EQ(timing->GetLapsed(u"Load"), 3);
    EXPECT_EQ(timing->GetLapsed(u"Load"), 3);

    timing->StartTiming(u"Load");
    clock.advance(7);
    EXPECT_EQ(timing->GetLapsed(u"Load"), 7);
    EXPECT_EQ(timing->GetStartTime(u"Load").date(),
              automation_date_from_seconds(automation_date_seconds(clock.now()) - 7));
}

TEST_F(TimingTest, NamesDifferingInCaseOrBlanksAreSeparateStopwatches)
{
    timing->StartTiming(u"Load");
    clock.advance(1);
    timing->StartTiming(u"load");
    clock.advance(1);
    timing->StartTiming(u" Load");
    clock.advance(1);
    timing->StartTiming(u"Load ");
    EXPECT_EQ(timing->GetLapsed(u"Load"), 3);
    EXPECT_EQ(timing->GetLapsed(u"load"), 2);
    EXPECT_EQ(timing->GetLapsed(u" Load"), 1);
    EXPECT_EQ(timing->GetLapsed(u"Load "), 0);
}

TEST_F(TimingTest, LapsedTextSplitsDaysHoursMinutesSeconds)
{
    const std::pair<int64_t, const char16_t*> cases[] = {
        {0, u"0 days 00:00:00"},     {3, u"0 days 00:00:03"},     {86400, u"1 days 00:00:00"},
        {90061, u"1 days 01:01:01"}, {93784, u"1 days 02:03:04"}, {2147483647, u"24855 days 03:14:07"},
    };
    for (const auto& [seconds, text] : cases) {
        timing->StartTiming(u"Run");
        clock.advance(seconds);
        timing->EndTiming(u"Run");
        EXPECT_EQ(timing->GetLapsed(u"Run"), seconds);
        EXPECT_EQ(timing->LapsedString(u"Run"), text) << seconds;
    }
}

TEST_F(TimingTest, ClockSetBackGivesNegativeParts)
{
    timing->StartTiming(u"Back");
    clock.advance(-5);
    EXPECT_EQ(timing->GetLapsed(u"Back"), -5);
    EXPECT_EQ(timing->LapsedString(u"Back"), u"0 days 00:00:-05");
    clock.advance(-3595);
    EXPECT_EQ(timing->LapsedString(u"Back"), u"0 days -01:00:00");
    timing->EndTiming(u"Back");
    EXPECT_EQ(timing->LapsedString(u"Back"), u"0 days -01:00:00");
}

TEST_F(TimingTest, MillisecondsFollowTheSteadyCountNotTheDateTime)
{
    EXPECT_EQ(timing->GetLapsedMilliseconds(u"Load"), -1);
    timing->StartTiming(u"Load");
    clock.advance_milliseconds(550);
    EXPECT_EQ(timing->GetLapsedMilliseconds(u"Load"), 550) << "a running stopwatch counts until now";
    EXPECT_EQ(timing->GetLapsed(u"Load"), 0);

    clock.set({1999, 9, 7, 13, 0, 0});
    clock.sleep(100);
    timing->EndTiming(u"Load");
    EXPECT_EQ(timing->GetLapsedMilliseconds(u"Load"), 650) << "the date-time set back does not move it";
    clock.advance_milliseconds(1000);
    EXPECT_EQ(timing->GetLapsedMilliseconds(u"Load"), 650) << "an ended stopwatch keeps its lapse";
    EXPECT_EQ(timing->GetLapsedMilliseconds(u"load"), -1) << "names keep their case";

    timing->StartTiming(u"Load");
    EXPECT_EQ(timing->GetLapsedMilliseconds(u"Load"), 0) << "a restart begins afresh";
}

TEST_F(TimingTest, LapseBeyondThirtyTwoBitsOverflows)
{
    timing->StartTiming(u"Years");
    clock.advance(int64_t(2147483647) + 1);
    EXPECT_EQ(lapsed_error(u"Years", false), 6);
    EXPECT_EQ(lapsed_error(u"Years", true), 6);
    timing->EndTiming(u"Years");
    EXPECT_EQ(lapsed_error(u"Years", false), 6);
}

TEST_F(TimingTest, TableStopsAt32767Names)
{
    // One character each, short enough to sit inside the string: the linear lookups stay quick.
    auto name = [](int i) { return BStr(1, char16_t(0x4E00 + i)); };
    for (int i = 0; i < 32767; ++i)
        timing->StartTiming(name(i));
    try {
        timing->StartTiming(u"one too many");
        FAIL() << "the 32768th name was started";
    } catch (const AutomationError& error) {
        EXPECT_EQ(error.number(), 6);
    }
    EXPECT_EQ(timing->GetLapsed(u"one too many"), -1);

    clock.advance(4);
    timing->EndTiming(name(32766));
    EXPECT_EQ(timing->GetLapsed(name(32766)), 4);
    timing->StartTiming(name(0));
    EXPECT_EQ(timing->GetLapsed(name(0)), 0);
}

}  // namespace
}  // namespace varne
