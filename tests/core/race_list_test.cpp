#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "games/race_list.h"

namespace {

struct ExpectedRace {
    std::string name;
    std::uint32_t ipAddress;
    std::string ipText;
    std::uint32_t createdOn;
};

struct PayloadCase {
    const char* what;
    std::string payload;
    bool hasRetrievedOn, hasCount, complete;
    std::uint32_t retrievedOn, count;
    std::vector<ExpectedRace> races;
};

TEST(ParseRaceListPayload, ReadsWhatTheLinesHoldAndSaysWhetherTheListIsWhole) {
    const PayloadCase cases[] = {
        {"one race, CR LF line ends", "1007000000\r\n1\r\nRace one,16909060,1007000000\r\n", true, true, true,
         1007000000u, 1u, {{"Race one", 16909060u, "1.2.3.4", 1007000000u}}},
        {"empty list", "0\n0\n", true, true, true, 0u, 0u, {}},
        {"empty list, nothing after the count", "5\n0\ntrailing", true, true, true, 5u, 0u, {}},
        {"nothing at all", "", false, false, false, 0u, 0u, {}},
        {"time without line feed", "5", false, false, false, 0u, 0u, {}},
        {"count without line feed", "5\n1", true, false, false, 5u, 0u, {}},
        {"count 2, one record", "9\n2\na,1,2\n", true, true, false, 9u, 2u, {{"a", 1u, "0.0.0.1", 2u}}},
        {"last record without line feed", "9\n2\na,1,2\nb,3,4", true, true, false, 9u, 2u,
         {{"a", 1u, "0.0.0.1", 2u}}},
        {"lines after the count are not read", "9\n1\na,1,2\nb\nc,d\n", true, true, true, 9u, 1u,
         {{"a", 1u, "0.0.0.1", 2u}}},
        {"record with one comma", "9\n2\na,1,2\nname,5\n", true, true, false, 9u, 2u, {{"a", 1u, "0.0.0.1", 2u}}},
        {"record without comma", "9\n1\nname\n", true, true, false, 9u, 1u, {}},
        {"two commas alone", "9\n1\n,,\n", true, true, true, 9u, 1u, {{"", 0u, "0.0.0.0", 0u}}},
        {"further commas stay in the time item", "9\n1\nx,1,2,3\n", true, true, true, 9u, 1u,
         {{"x", 1u, "0.0.0.1", 163u}}},
        {"one carriage return is dropped, a second stays", "9\n1\nn,1,2\r\r\n", true, true, true, 9u, 1u,
         {{"n", 1u, "0.0.0.1", static_cast<std::uint32_t>(2 * 10 + ('\r' - '0'))}}},
        {"name keeps blanks and apostrophes", "9\n1\nBob's race ,4294967295,1\n", true, true, true, 9u, 1u,
         {{"Bob's race ", 4294967295u, "255.255.255.255", 1u}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RaceListPayload list = parseRaceListPayload(c.payload);
        EXPECT_EQ(list.hasRetrievedOn, c.hasRetrievedOn);
        EXPECT_EQ(list.hasCount, c.hasCount);
        EXPECT_EQ(list.complete, c.complete);
        if (c.hasRetrievedOn) EXPECT_EQ(list.retrievedOn, c.retrievedOn);
        if (c.hasCount) EXPECT_EQ(list.count, c.count);
        ASSERT_EQ(list.races.size(), c.races.size());
        for (std::size_t i = 0; i < c.races.size(); ++i) {
            EXPECT_EQ(list.races[i].name, c.races[i].name);
            EXPECT_EQ(list.races[i].ipAddress, c.races[i].ipAddress);
            EXPECT_EQ(list.races[i].ipText, c.races[i].ipText);
            EXPECT_EQ(list.races[i].createdOn, c.races[i].createdOn);
            EXPECT_EQ(list.races[i].createdText, "");
        }
    }
}

TEST(ParseRaceListPayload, RefusesACountTheBodyCannotHoldWithoutAllocatingForIt) {
    RaceListPayload huge = parseRaceListPayload("0\n4000000000\nrace,16909060,1007000000\n");
    EXPECT_TRUE(huge.hasCount);
    EXPECT_EQ(huge.count, 4000000000u);
    EXPECT_FALSE(huge.complete);
    EXPECT_TRUE(huge.races.empty());
    EXPECT_EQ(huge.races.capacity(), 0u);

    // Three bytes per record is the true minimum: a count that just fits is still read.
    RaceListPayload tight = parseRaceListPayload("0\n3\n,,\n,,\n,,\n");
    EXPECT_TRUE(tight.complete);
    EXPECT_EQ(tight.races.size(), 3u);
    RaceListPayload oneShort = parseRaceListPayload("0\n3\n,,\n,,\n,,");
    EXPECT_FALSE(oneShort.complete);
    EXPECT_EQ(oneShort.races.capacity(), 0u);
}

}  // namespace
