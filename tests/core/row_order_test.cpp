#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "games/row_order.h"

namespace {

RaceEntry race(std::string name, std::uint32_t ip = 0, std::uint32_t created = 0) {
    RaceEntry r;
    r.name = std::move(name);
    r.ipAddress = ip;
    r.createdOn = created;
    return r;
}

std::vector<std::string> namesInRowOrder(const std::vector<RaceEntry>& races, const std::vector<std::uint32_t>& order) {
    std::vector<std::string> names;
    for (auto i : order) names.push_back(races[i].name);
    return names;
}

using Order = std::vector<std::uint32_t>;

TEST(InsertPosition, EqualKeyGoesBeforeTheProbedEqualKey) {
    struct Case {
        std::vector<int> placed;
        int key;
        std::size_t position;
    };
    const Case cases[] = {
        {{}, 7, 0},         {{20, 20, 20}, 20, 1}, {{10, 20, 30}, 20, 1}, {{10, 20, 30}, 5, 0},
        {{10, 20, 30}, 35, 3}, {{10, 20, 30}, 25, 2}, {{10, 20}, 15, 1},   {{10, 10, 10, 10}, 10, 2},
    };
    for (const auto& c : cases) {
        auto keyAt = [&](std::size_t p) { return c.placed[p]; };
        EXPECT_EQ(insertPosition(keyAt, 0, c.placed.size(), c.key), c.position) << "key " << c.key;
    }
    auto none = [](std::size_t) { return 0; };
    EXPECT_EQ(insertPosition(none, 3, 1, 5), 0u);
}

TEST(OrderRows, NamesCompareByteWiseCapitalsFirst) {
    std::vector<RaceEntry> races = {race("b"), race("B"), race("a"), race("ab"), race("\xE9t\xE9"), race("z")};
    Order order;
    orderRows(races, 0, order);
    EXPECT_EQ(namesInRowOrder(races, order), (std::vector<std::string>{"B", "a", "ab", "b", "z", "\xE9t\xE9"}));
}

TEST(OrderRows, EqualKeysLandWhereTheTieRulePutsThem) {
    std::vector<RaceEntry> sameTime = {race("w", 4, 50), race("x", 3, 50), race("y", 2, 50), race("z", 1, 50)};
    Order order;
    orderRows(sameTime, 2, order);
    EXPECT_EQ(order, (Order{0, 2, 3, 1}));
    std::vector<RaceEntry> sameName = {race("n", 4), race("n", 3), race("n", 2), race("n", 1)};
    orderRows(sameName, 0, order);
    EXPECT_EQ(order, (Order{1, 3, 2, 0}));
}

TEST(OrderRows, AddressesAndTimesCompareUnsignedAndTimesShowNewestFirst) {
    std::vector<RaceEntry> races = {race("a", 0x80000000u, 5), race("b", 1, 0xF0000000u), race("c", 0xFFFFFFFFu, 7),
                                    race("d", 2, 1)};
    Order order;
    orderRows(races, 1, order);
    EXPECT_EQ(order, (Order{1, 3, 0, 2}));
    orderRows(races, 2, order);
    EXPECT_EQ(order, (Order{1, 2, 0, 3}));
}

TEST(OrderRows, GivesAPermutationInKeyOrderWhateverTheOldOrder) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<RaceEntry> races;
        const int n = static_cast<int>(random() % 40);
        for (int i = 0; i < n; ++i)
            races.push_back(race(std::string(1 + random() % 2, static_cast<char>('a' + random() % 3)),
                                 static_cast<std::uint32_t>(random() % 5), static_cast<std::uint32_t>(random() % 5)));
        for (int column = 0; column < 3; ++column) {
            Order order(races.size());
            std::iota(order.begin(), order.end(), 0u);
            std::shuffle(order.begin(), order.end(), random);
            orderRows(races, column, order);
            Order sorted = order;
            std::sort(sorted.begin(), sorted.end());
            Order identity(races.size());
            std::iota(identity.begin(), identity.end(), 0u);
            ASSERT_EQ(sorted, identity);
            for (std::size_t r = 1; r < order.size(); ++r) {
                const RaceEntry& a = races[order[r - 1]];
                const RaceEntry& b = races[order[r]];
                if (column == 0) ASSERT_LE(a.name, b.name);
                if (column == 1) ASSERT_LE(a.ipAddress, b.ipAddress);
                if (column == 2) ASSERT_GE(a.createdOn, b.createdOn);
            }
        }
    }
}

TEST(ReverseRows, SwapsEndsAndLeavesShortOrdersAlone) {
    Order empty, one{4}, odd{1, 2, 3}, even{1, 2, 3, 4};
    reverseRows(empty);
    reverseRows(one);
    reverseRows(odd);
    reverseRows(even);
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(one, Order{4});
    EXPECT_EQ(odd, (Order{3, 2, 1}));
    EXPECT_EQ(even, (Order{4, 3, 2, 1}));
}

TEST(SortRowsByColumn, SecondClickReversesThirdRestoresAndAFreshListIsNewestFirst) {
    std::vector<RaceEntry> races = {race("b", 2, 10), race("c", 3, 30), race("a", 1, 20)};
    struct Click {
        int column;
        int sortColumn;
        Order order;
    };
    const Click clicks[] = {
        {2, 3, {1, 2, 0}},  // a fresh list: newest first
        {2, 3, {0, 2, 1}},  // reversed
        {0, 1, {2, 0, 1}},
        {0, 1, {1, 0, 2}},  // reversed
        {0, 1, {2, 0, 1}},  // and back
        {1, 2, {2, 0, 1}},
    };
    Order order;
    int sortColumn = 0;
    for (const Click& click : clicks) {
        sortColumn = sortRowsByColumn(races, order, sortColumn, click.column);
        EXPECT_EQ(sortColumn, click.sortColumn) << "after a click on column " << click.column;
        EXPECT_EQ(order, click.order) << "after a click on column " << click.column;
    }

    Order none;
    EXPECT_EQ(sortRowsByColumn({}, none, 0, 1), 2);
    EXPECT_TRUE(none.empty());
}

}  // namespace
