// The history of when races were open: what it keeps, that it keeps it in the race's own
// commit and across restarts, what the sweep forgets, and the figures made from it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <nlohmann/json.hpp>

#include "lobby_fixture.h"
#include "lobby_queries.h"
#include "races/race_store.h"
#include "site/stats_page.h"

namespace {

using lobby::PastRace;
using lobby::RaceStore;

constexpr std::int64_t kHour = 3600, kDay = 24 * kHour;

// Runs SQL on a connection of its own, as another process would.
void sql(const std::string& path, const std::string& text) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    int rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

std::vector<std::string> historyCells(const std::string& path) {
    std::vector<std::string> cells;
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "SELECT * FROM history",
                 [](void* out, int n, char** values, char**) {
                     for (int i = 0; i < n; ++i)
                         static_cast<std::vector<std::string>*>(out)->push_back(values[i] ? values[i] : "");
                     return 0;
                 },
                 &cells, nullptr);
    sqlite3_close(db);
    return cells;
}

TEST(History, KeepsWhenRacesOpenedAndEndedButNotWho) {
    TempDir dir;
    const std::string path = dir.file("h.db");
    const std::int64_t t = 1'000'000'000, ttl = kHour;
    {
        RaceStore store(path);
        ASSERT_EQ(store.add("NFS4", {"Secret cup", 16909060, t}, 10), lobby::AddOutcome::Added);
        ASSERT_EQ(store.add("NFS4", {"Other cup", 16909060, t + 60}, 10), lobby::AddOutcome::Replaced);
        ASSERT_TRUE(store.remove("NFS4", 16909060, t + 100));
        ASSERT_EQ(store.add("NFS5", {"Late cup", 84281096, t + 200}, 10), lobby::AddOutcome::Added);
        store.put("NFS5", lobby::demoRaces(2, t));  // demonstrations were never announced
        EXPECT_EQ(store.sweep(lobby::Expiry{ttl}, t + 200 + ttl, t - 90 * kDay), 3);
    }
    RaceStore reopened(path);
    auto past = reopened.history(0);
    ASSERT_EQ(past.size(), 3u);
    auto expect = [&](std::size_t i, const char* game, std::int64_t opened, std::int64_t closed) {
        EXPECT_EQ(past[i].game, game) << i;
        EXPECT_EQ(past[i].opened, opened) << i;
        EXPECT_EQ(past[i].closed.value_or(-1), closed) << i;
    };
    expect(0, "NFS4", t, t + 60);         // replaced: withdrawn then
    expect(1, "NFS4", t + 60, t + 100);   // withdrawn
    expect(2, "NFS5", t + 200, t + 200 + ttl);  // expired when it ran out, not when swept
    for (const std::string& cell : historyCells(path))
        for (const char* who : {"16909060", "84281096", "Secret", "Other", "Late", "1.2.3.4"})
            EXPECT_EQ(cell.find(who), std::string::npos) << cell;
}

TEST(History, AnnouncementFailsWholeWhenItsHistoryCannotBeWritten) {
    TempDir dir;
    RaceStore store(dir.file("h.db"));
    sql(dir.file("h.db"),
        "CREATE TRIGGER refuse BEFORE INSERT ON history BEGIN SELECT RAISE(ABORT, 'no room'); END");
    EXPECT_THROW(store.add("NFS4", {"Cup", 1, 1000}, 10), lobby::StoreError);
    EXPECT_TRUE(store.list("NFS4", 0).empty());
    sql(dir.file("h.db"), "DROP TRIGGER refuse");
    EXPECT_EQ(store.add("NFS4", {"Cup", 1, 1000}, 10), lobby::AddOutcome::Added);
    EXPECT_EQ(store.history(0).size(), 1u);
}

TEST(History, SweepForgetsRacesThatEndedBeforeTheRetention) {
    TempDir dir;
    RaceStore store(dir.file("h.db"));
    const std::int64_t now = 1'000'000'000;
    sql(dir.file("h.db"),
        "INSERT INTO history VALUES ('NFS4', " + std::to_string(now - 10 * kDay) + ", " +
            std::to_string(now - 8 * kDay - 1) + ", 'withdrawn'), ('NFS4', " +
            std::to_string(now - 9 * kDay) + ", " + std::to_string(now - 8 * kDay + 1) +
            ", 'expired'), ('NFS5', " + std::to_string(now - 60) + ", NULL, NULL)");
    store.sweep(lobby::Expiry{kHour}, now, now - 8 * kDay);
    auto kept = store.history(0);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].opened, now - 9 * kDay);
    EXPECT_FALSE(kept[1].closed) << "a race still listed stays";
}

TEST(Stats, HoursAreSharedOutByTheSecondsRacesWereOpen) {
    const std::int64_t now = kStart, today = now / kDay * kDay;
    std::vector<PastRace> past = {
        {"NFS4", today - kDay + 20 * kHour + 1800, today - kDay + 21 * kHour + 900},  // Wed
        {"NFS5", today + kHour + 1800, std::nullopt},                                 // open
        {"NFS4", today - 40 * kDay, today - 40 * kDay + 600},                         // too old
    };
    auto stats = lobby::computeStats(past, {"NFS4", "NFS5"}, now);
    EXPECT_DOUBLE_EQ(stats.open[2][20], 0.5 / 4);
    EXPECT_DOUBLE_EQ(stats.open[2][21], 0.25 / 4);
    EXPECT_DOUBLE_EQ(stats.open[3][1], 0.5 / 4);
    EXPECT_DOUBLE_EQ(stats.open[3][2], 0) << "the hour under way is not counted yet";
    EXPECT_EQ(stats.games[0].announced[28], 1);
    EXPECT_EQ(stats.games[1].announced[29], 1);
    double total = 0;
    for (const auto& day : stats.open)
        for (double open : day) total += open;
    EXPECT_DOUBLE_EQ(total, (0.75 + 0.5) / 4);
    EXPECT_EQ(lobby::busiestHourText(stats),
              "Races are most often open on Wednesdays from 20:00 to 21:00 UTC: 0.13 on average "
              "over the last four weeks.");
}

TEST_F(LobbyTest, StatsJsonGivesTheSeededHistoryAndSurvivesRestart) {
    const std::int64_t today = kStart / kDay * kDay;
    auto row = [](const char* game, std::int64_t opened, std::int64_t minutes) {
        return "('" + std::string(game) + "', " + std::to_string(opened) + ", " +
               std::to_string(opened + minutes * 60) + ", 'withdrawn')";
    };
    { RaceStore create(dir_.file("lobby.db")); }
    sql(dir_.file("lobby.db"),
        "INSERT INTO history VALUES " + row("NFS4", today + 600, 30) + ", " +
            row("NFS4", today - kDay + 20 * kHour, 120) + ", " +
            row("NFS4", today - kDay + 20 * kHour, 120) + ", " +
            row("NFS5", today - 29 * kDay + 12 * kHour, 30) + ", " +
            row("NFS4", today - 30 * kDay + 12 * kHour, 30));
    start();
    auto stats = [&] {
        HttpReply reply = httpGet(port(), "/stats.json");
        EXPECT_EQ(reply.status, 200);
        return nlohmann::json::parse(reply.body);
    };
    nlohmann::json doc = stats();
    std::vector<int> nfs4(30, 0), nfs5(30, 0);
    nfs4[29] = 1;
    nfs4[28] = 2;
    nfs5[0] = 1;
    EXPECT_EQ(doc["announced"]["NFS4"].get<std::vector<int>>(), nfs4);
    EXPECT_EQ(doc["announced"]["NFS5"].get<std::vector<int>>(), nfs5);
    EXPECT_EQ(doc["days"][0], "2001-10-31");
    EXPECT_EQ(doc["days"][29], "2001-11-29");
    const auto& open = doc["open_by_hour"]["average_open"];
    EXPECT_EQ(open[2][20], 0.5);  // two races Wednesday 20:00 to 22:00, over four weeks
    EXPECT_EQ(open[2][21], 0.5);
    EXPECT_EQ(open[3][0], 0.13);  // half an hour, rounded
    EXPECT_EQ(open[1][12], 0) << "29 days ago is past the four weeks of the heat map";
    EXPECT_EQ(doc["busiest_hour"], (nlohmann::json{{"weekday", "Wednesday"}, {"hour", 20}, {"average_open", 0.5}}));

    ASSERT_EQ(call(raceAddQuery("NFS4", "Cup", "2130706433")), "OK\n");
    restart();
    EXPECT_EQ(stats()["announced"]["NFS4"][29], 2) << "the announcement was kept";
}

}  // namespace
