// What a lobby's host adds around the protocol: the block list, the JSON feed, metrics, the
// page for hosts and the downloads folder.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

#include "lobby_fixture.h"
#include "races/block_list.h"
#include "site/downloads.h"
#include "stand_in_checks.h"

namespace {

const std::string kBlockedAddress = "ERROR\nYour address may not announce races in this lobby.\n";
const std::string kBlockedName =
    "ERROR\nThis race name is not allowed in this lobby. Please choose another name.\n";

std::string add(const std::string& name, int third, int fourth) {
    return raceAddQuery("NFS4", name, loopbackDecimal(third, fourth));
}
const auto from = loopbackSource;

class HostTest : public LobbyTest {
protected:
    void startWithBlockList(const std::string& text) {
        std::ofstream(dir_.file("blocked.txt")) << text;
        lobby::LobbyConfig c = config();
        c.blockListPath = dir_.file("blocked.txt");
        start(c);
    }
};

TEST_F(HostTest, BlockedRangeMayNotAnnounceAndItsRacesAreHidden) {
    startWithBlockList("127.0.4.0/22  # a household\n");
    ASSERT_EQ(call(add("Early", 3, 255), from(3, 255)), "OK\n");  // just before it
    EXPECT_EQ(call(add("Mine", 7, 255), from(7, 255)), kBlockedAddress);
    EXPECT_EQ(call(add("Mine", 8, 1), from(8, 1)), "OK\n");  // just past the range

    std::ofstream(dir_.file("blocked.txt")) << "127.0.3.255\n";
    lobby_->server.reloadBlockList();
    std::string list = raceList("NFS4");
    EXPECT_EQ(list.find("Early"), std::string::npos) << list;
    EXPECT_NE(list.find("Mine"), std::string::npos) << list;
    EXPECT_EQ(call(add("Mine", 7, 255), from(7, 255)), "OK\n");
}

TEST_F(HostTest, BannedWordRefusedWhateverItsCase) {
    startWithBlockList("word: Cheat\n");
    for (const char* name : {"cheat", "CHEATERS", "no%20cHeAt%20here"})
        EXPECT_EQ(call(add(name, 0, 1)), kBlockedName) << name;
    EXPECT_EQ(call(add("Chea%20t", 0, 1)), "OK\n");
}

TEST(BlockList, MalformedLinesAreReportedWithTheirNumber) {
    struct Case {
        const char* text;
        const char* says;
    } cases[] = {
        {"10.0.0.1\n\n10.0.0.300\n", "line 3: "},
        {"# fine\n10.0.0.0/33\n", "line 2: "},
        {"2001:db8::/129\n", "line 1: "},
        {"ok.example\n", "line 1: "},
        {"10.0.0.0/\n", "line 1: "},
        {"10.0.0.1\nword:   \n", "line 2: "},
    };
    for (const Case& c : cases) {
        try {
            lobby::BlockList::parse(c.text);
            ADD_FAILURE() << c.text;
        } catch (const lobby::BlockListError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.says, 0), 0u) << e.what();
        }
    }
    auto list = lobby::BlockList::parse("2001:db8:1::/48\r\n192.0.2.7\n");
    EXPECT_TRUE(list.blocksAddress("2001:db8:1:ffff::9"));
    EXPECT_FALSE(list.blocksAddress("2001:db8:2::9"));
    EXPECT_TRUE(list.blocksAddress("::ffff:192.0.2.7"));
    EXPECT_FALSE(list.blocksAddress("192.0.2.8"));
}

TEST_F(HostTest, RacesJsonReadsBackWithAnAwkwardName) {
    start();
    // Written straight into the database, as an older lobby or another tool might have.
    std::string awkward = "q\"uo\\te\x01</script>\xc3\xa9";
    lobby::RaceStore(dir_.file("lobby.db"))
        .put("NFS5", {lobby::Race{awkward + "\xff", 0xC0000201u, kStart - 60}});
    HttpReply reply;
    ASSERT_TRUE(pollUntil([&] {
        reply = httpGet(port(), "/races.json");
        return reply.body.find("192.0.2.1") != std::string::npos;
    }));
    ASSERT_EQ(reply.status, 200);
    EXPECT_NE(reply.head.find("Access-Control-Allow-Origin: *"), std::string::npos) << reply.head;
    EXPECT_NE(reply.head.find("application/json"), std::string::npos);
    auto doc = nlohmann::json::parse(reply.body);
    EXPECT_EQ(doc["server_time"], kStart);
    EXPECT_EQ(doc["races"]["NFS4"].size(), 0u);
    ASSERT_EQ(doc["races"]["NFS5"].size(), 1u);
    const auto& race = doc["races"]["NFS5"][0];
    EXPECT_EQ(race["name"], awkward + "\xef\xbf\xbd");  // the stray byte as U+FFFD
    EXPECT_EQ(race["host"], "192.0.2.1");
    EXPECT_EQ(race["created"], kStart - 60);
    EXPECT_EQ(race["created_utc"], "2001-11-29T02:12:20Z");
}

// One NFS4 race from each of 127.0.0.2 to .6, checked as StandInChecks says.
// What the pages make of the checks, the browser test sees (tests/browser/pages_test.mjs).
class CheckedHostTest : public HostTest {
protected:
    StandInChecks checks{kStart};
    lobby::ProbeCounters counters;

    // Without the stand-in: the lobby's own prober, off (--probe off).
    void startWithRaces(bool standIn) {
        lobby::LobbyConfig c = config();
        c.probe.enabled = standIn;
        start(c, standIn ? &checks : nullptr, standIn ? &counters : nullptr);
        for (int host = 2; host <= 6; ++host)
            ASSERT_EQ(call(add("Race" + std::to_string(host), 0, host), from(0, host)), "OK\n");
    }
    nlohmann::json checkOf(const std::string& name) {
        const auto doc = nlohmann::json::parse(httpGet(port(), "/races.json").body);
        for (const auto& race : doc["races"]["NFS4"])
            if (race["name"] == name) return race["check"];
        return nullptr;
    }
};

TEST_F(CheckedHostTest, EachRaceCarriesOnlyTheFieldsOfItsCheckAndMetricsCountTheProbes) {
    counters.sent = 7;
    counters.failedGamePort = 1;
    counters.inFlight = 3;
    startWithRaces(true);
    EXPECT_EQ(checkOf("Race2"), nlohmann::json::parse(
        R"({"state":"answering","checked":1006999930,"checked_utc":"2001-11-29T02:12:10Z",
            "session":"Sunday cup","players":3,"max_players":8,"password":true})"));
    EXPECT_EQ(checkOf("Race3"), nlohmann::json::parse(R"({"state":"checking"})"));
    EXPECT_EQ(checkOf("Race4"), nlohmann::json::parse(
        R"({"state":"not_reachable","checked":1006999995,"checked_utc":"2001-11-29T02:13:15Z",
            "failed_step":"udp_47624"})"));
    EXPECT_EQ(checkOf("Race5")["failed_step"], "game_port");
    EXPECT_EQ(checkOf("Race6"), nlohmann::json::parse(R"({"state":"not_checked"})"));
    const std::string metrics = httpGet(port(), "/metrics").body;
    for (const char* line : {"kestrun_probes_sent_total 7\n", "kestrun_probes_answered_total 0\n",
                             "kestrun_probes_failed_total{step=\"game_port\"} 1\n", "kestrun_probes_in_flight 3\n",
                             "kestrun_probes_refused_by_range_total 0\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line << metrics;
}

TEST_F(CheckedHostTest, OnlyCheckAgainTakesAPostAndOnlyForAnAddressTheProberChecks) {
    startWithRaces(true);
    EXPECT_EQ(httpGet(port(), "/check", from(0, 6)).body.find("<form"), std::string::npos);
    HttpReply refused = httpPost(port(), "/check", from(0, 6));
    EXPECT_NE(refused.body.find("does not check races from this address"), std::string::npos);
    EXPECT_NE(refused.head.find("Cache-Control: no-store"), std::string::npos) << "it names the visitor";
    // The protocol, above all, still refuses it.
    EXPECT_EQ(httpPost(port(), "/server/server.php?action=getip").status, 405);
    EXPECT_EQ(httpPost(port(), "/").status, 405);
}

TEST_F(CheckedHostTest, WithProbingOffEveryRaceIsNotChecked) {
    startWithRaces(false);
    EXPECT_EQ(checkOf("Race2"), nlohmann::json::parse(R"({"state":"not_checked"})"));
    EXPECT_NE(httpGet(port(), "/check", from(0, 2)).body.find("This lobby does not check races"), std::string::npos);
    EXPECT_NE(httpPost(port(), "/check", from(0, 2)).body.find("Sorry, this lobby does not check races."),
              std::string::npos);
    EXPECT_EQ(httpGet(port(), "/metrics").body.find("kestrun_probes"), std::string::npos);
}

TEST_F(HostTest, NoFileOutsideTheDownloadsFolderIsReachable) {
    std::string folder = dir_.file("downloads");
    ::mkdir(folder.c_str(), 0755);
    ::mkdir((folder + "/sub").c_str(), 0755);
    std::ofstream(folder + "/kestrun.exe") << "MZ client";
    std::ofstream(folder + "/sub/inner.exe") << "inner";
    std::ofstream(dir_.file("secret.txt")) << "secret";
    ASSERT_EQ(::symlink(dir_.file("secret.txt").c_str(), (folder + "/link.txt").c_str()), 0);
    lobby::LobbyConfig c = config();
    c.downloadsDir = folder;
    start(c);

    HttpReply client = httpGet(port(), "/download/kestrun.exe");
    EXPECT_EQ(client.status, 200);
    EXPECT_EQ(client.body, "MZ client");
    EXPECT_NE(client.head.find("Content-Disposition: attachment; filename=\"kestrun.exe\""),
              std::string::npos) << client.head;
    EXPECT_NE(client.head.find("application/vnd.microsoft.portable-executable"), std::string::npos);
    EXPECT_NE(httpGet(port(), "/").body.find("href=\"/download/kestrun.exe\""), std::string::npos);

    for (const char* target :
         {"/download/../secret.txt", "/download/..%2fsecret.txt", "/download/%2e%2e/secret.txt",
          "/download/%2e%2e%2fsecret.txt", "/download/" , "/download/.", "/download/sub",
          "/download/sub/inner.exe", "/download/sub%2finner.exe", "/download//etc/passwd",
          "/download/%2fetc%2fpasswd", "/download/link.txt", "/download/kestrun.exe%00.txt"}) {
        HttpReply reply = httpGet(port(), target);
        EXPECT_TRUE(reply.status == 404 || reply.status == 400) << target << " " << reply.status;
        EXPECT_EQ(reply.body.find("secret"), std::string::npos) << target;
        EXPECT_EQ(reply.body.find("inner"), std::string::npos) << target;
    }
}

// An I/O thread takes a download only from the cache; a changed file is read again.
TEST_F(HostTest, DownloadsAreReadOnceAndAgainWhenChanged) {
    std::ofstream(dir_.file("kestrun.exe")) << "first";
    lobby::Downloads downloads(dir_.file(""));
    EXPECT_FALSE(downloads.find("kestrun.exe", false));
    EXPECT_EQ(*downloads.find("kestrun.exe")->body, "first");
    EXPECT_EQ(*downloads.find("kestrun.exe", false)->body, "first");
    std::ofstream(dir_.file("kestrun.exe")) << "second, longer";
    EXPECT_FALSE(downloads.find("kestrun.exe", false));
    EXPECT_EQ(*downloads.find("kestrun.exe")->body, "second, longer");
}

TEST_F(HostTest, MetricsCountRacesRequestsAndRefusals) {
    startWithBlockList("word: cheat\n");
    call(add("cheat", 0, 1));
    call(add("Fair", 0, 1));
    // The connections of the calls above close on their own time; only /metrics's stays.
    std::string metrics;
    pollUntil([&] {
        metrics = httpGet(port(), "/metrics").body;
        return metrics.find("kestrun_open_connections 1\n") != std::string::npos;
    });
    for (const char* line : {"kestrun_races{game=\"NFS4\"} 1\n", "kestrun_races{game=\"NFS5\"} 0\n",
                             "kestrun_requests_total{action=\"raceadd\",outcome=\"ok\"} 1\n",
                             "kestrun_requests_total{action=\"raceadd\",outcome=\"error\"} 1\n",
                             "kestrun_refusals_total{reason=\"blocked_name\"} 1\n",
                             "kestrun_open_connections 1\n", "kestrun_rate_limited_addresses 0\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line << metrics;

    lobby_.reset();
    lobby::LobbyConfig off = config();
    off.metrics = lobby::LobbyConfig::Metrics::Off;
    start(off);
    EXPECT_EQ(httpGet(port(), "/metrics").status, 404);
}

}  // namespace
