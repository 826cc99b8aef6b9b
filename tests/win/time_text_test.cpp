// Run by ctest once per time zone and locale (see CMakeLists.txt): KESTRUN_TIME_CASE names
// the expectations, and TZ and LANG set Wine's time zone and system locale.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/error_text.h"
#include "games/time_text.h"

namespace {

struct Expectations {
    const char* epoch;        // 0
    const char* race;         // 1007000000 = 2001-11-29 02:13:20 UTC
    const char* before1970;   // 2147483648 = 1901-12-13 20:45:52 UTC
};

const Expectations* expectations() {
    static const Expectations utcEnglish{"1/1/1970 - 12:00 AM", "11/29/2001 - 2:13 AM", "12/13/1901 - 8:45 PM"};
    static const Expectations plusOneGerman{"1.1.1970 - 01:00", "29.11.2001 - 03:13", "13.12.1901 - 21:45"};
    const char* name = std::getenv("KESTRUN_TIME_CASE");
    std::string chosen = name ? name : "";
    if (chosen == "utc-en") return &utcEnglish;
    if (chosen == "plus1-de") return &plusOneGerman;
    return nullptr;
}

TEST(FormatTimestamp, LocalDateAndTimeInTheSystemLocale) {
    const Expectations* e = expectations();
    ASSERT_NE(e, nullptr) << "KESTRUN_TIME_CASE must name the time zone and locale under test";
    EXPECT_EQ(formatTimestamp(0), e->epoch);
    EXPECT_EQ(formatTimestamp(1007000000), e->race);
    EXPECT_EQ(formatTimestamp(2147483648u), e->before1970);
}

TEST(FormatTimestamp, JoinsDateAndTimeWithSpacedHyphen) {
    SYSTEMTIME st{};
    st.wYear = 2001;
    st.wMonth = 11;
    st.wDay = 29;
    st.wHour = 2;
    st.wMinute = 13;
    st.wSecond = 20;
    std::string date = formatDate(st);
    std::string time = formatTime(st);
    EXPECT_FALSE(date.empty());
    EXPECT_EQ(time.find("20"), std::string::npos) << "seconds must be left out: " << time;
    EXPECT_LE(date.size(), 15u);
    EXPECT_LE(time.size(), 15u);
}

TEST(FormatDate, ReportsAnUnformattableDate) {
    SYSTEMTIME invalid{};
    invalid.wYear = 2001;
    invalid.wMonth = 13;  // no such month
    invalid.wDay = 40;
    try {
        formatDate(invalid);
        FAIL() << "an impossible date was formatted";
    } catch (const ErrorText& e) {
        EXPECT_EQ(e.text, "Error converting systemtime to date.");
    }
}

}  // namespace
