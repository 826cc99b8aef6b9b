// The client's protocol without sockets: queries, client addresses, lists and block lists
// in, outcomes out, committed as the writer commits them.
#include <gtest/gtest.h>

#include <memory>

#include "lobby_fixture.h"
#include "protocol/protocol.h"

namespace {

using namespace lobby;

// What the protocol and the lists are told of the lobby's settings.
struct Config {
    std::size_t maxQuery = 512;
    std::size_t maxRaces = 1000;
    std::int64_t raceTtlSeconds = 60 * 60;
    std::int64_t historyDays = 90;
};

class Protocol : public ::testing::Test {
protected:
    Config config() const { return {}; }
    void start(Config c = {}, const std::string& blockList = "") {
        config_ = c;
        auto blocks = std::make_shared<const BlockList>(BlockList::parse(blockList));
        lists_ = std::make_unique<RaceLists>(store_, blocks, c.raceTtlSeconds, c.historyDays,
                                             c.maxRaces, now_);
    }

    // The body answered to this query from this client, the change committed if it asks one.
    std::string call(const std::string& query, const std::string& source = "127.0.0.1") {
        auto client = parsePeerAddress(source);
        Outcome outcome =
            answerScript({query, *client, now_, config_.maxQuery}, *lists_, *lists_->blocks());
        if (outcome.change)
            outcome = commitChange(std::move(outcome), *lists_, now_, [](const std::string& problem) {
                ADD_FAILURE() << problem;
            });
        EXPECT_EQ(outcome.status, 200) << query;
        EXPECT_EQ(outcome.ok(), outcome.body->rfind("OK\n", 0) == 0) << query;
        return *outcome.body;
    }
    std::string raceList(const std::string& game) { return call(raceListQuery(game)); }

    std::int64_t now_ = kStart;
    RaceStore store_{":memory:"};
    Config config_;
    std::unique_ptr<RaceLists> lists_;
};

TEST_F(Protocol, GetIpAnswersThePeersAddress) {
    start();
    EXPECT_EQ(call("action=getip"), "OK\n127.0.0.1\n");
    EXPECT_EQ(call("action=getip", "127.0.0.42"), "OK\n127.0.0.42\n");
    EXPECT_EQ(call("action=getip", "127.1.2.3"), "OK\n127.1.2.3\n");
}

TEST_F(Protocol, RaceListBodiesAreExact) {
    start();
    EXPECT_EQ(raceList("NFS4"), "OK\n" + kT0 + "\n0\n");
    ASSERT_EQ(call(raceAddQuery("NFS4", "Race%20one", kHome)), "OK\n");
    now_ += 5;
    ASSERT_EQ(call(raceAddQuery("NFS4", "Second", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    now_ += 5;
    std::string t5 = std::to_string(kStart + 5), t10 = std::to_string(kStart + 10);
    EXPECT_EQ(raceList("NFS4"), "OK\n" + t10 + "\n2\nSecond,2130706434," + t5 + "\nRace one," +
                                    kHome + "," + kT0 + "\n");
    EXPECT_EQ(raceList("NFS5"), "OK\n" + t10 + "\n0\n");
}

TEST_F(Protocol, AddingAgainReplacesTheAddressesRace) {
    start();
    ASSERT_EQ(call(raceAddQuery("NFS4", "First", kHome)), "OK\n");
    ASSERT_EQ(call(raceAddQuery("NFS5", "Other game", kHome)), "OK\n");
    now_ += 100;
    ASSERT_EQ(call(raceAddQuery("NFS4", "Second", kHome)), "OK\n");
    std::string t100 = std::to_string(kStart + 100);
    EXPECT_EQ(raceList("NFS4"), "OK\n" + t100 + "\n1\nSecond," + kHome + "," + t100 + "\n");
    EXPECT_EQ(raceList("NFS5"), "OK\n" + t100 + "\n1\nOther game," + kHome + "," + kT0 + "\n");
}

TEST_F(Protocol, RemoveTakesOnlyTheRequestersRace) {
    start();
    ASSERT_EQ(call(raceAddQuery("NFS4", "Mine", kHome)), "OK\n");
    ASSERT_EQ(call(raceAddQuery("NFS4", "Theirs", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    EXPECT_EQ(call(raceRemQuery("NFS5", kHome)), "ERROR\nYou have no race in the NFS5 race list.\n");
    EXPECT_EQ(call(raceRemQuery("NFS4", kHome)), "OK\n");
    EXPECT_EQ(call(raceRemQuery("NFS4", kHome)), "ERROR\nYou have no race in the NFS4 race list.\n");
    EXPECT_EQ(raceList("NFS4"), "OK\n" + kT0 + "\n1\nTheirs,2130706434," + kT0 + "\n");
}

TEST_F(Protocol, NoOneAddsOrRemovesARaceForSomeoneElsesAddress) {
    start();
    ASSERT_EQ(call(raceAddQuery("NFS4", "Victim", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    std::string before = raceList("NFS4");

    std::string spoofAdd = call(raceAddQuery("NFS4", "Spoof", loopbackDecimal(0, 2)));
    EXPECT_TRUE(isRefusal(spoofAdd)) << spoofAdd;
    EXPECT_NE(spoofAdd.find("127.0.0.1"), std::string::npos) << "says whose address it saw";
    EXPECT_TRUE(isRefusal(call(raceRemQuery("NFS4", loopbackDecimal(0, 2)))));
    // An address text with a part above 255 travels as 0.
    EXPECT_TRUE(isRefusal(call(raceAddQuery("NFS4", "Zero", "0"))));
    EXPECT_EQ(raceList("NFS4"), before);
}

TEST_F(Protocol, EveryRefusalIsAnErrorBodyAndStoresNothing) {
    auto c = config();
    c.maxQuery = 200;
    start(c);
    const std::string ip = ";ip:" + kHome;
    const char* noAction = "The lobby does not know this request.";
    const char* noGame = "The lobby keeps race lists for NFS4 and NFS5 only.";
    const char* badData = "The lobby could not read the race data.";
    const char* badName = "A race name must be 1 to 16 letters";
    const char* unreadable = "The lobby could not read this request.";
    struct Case {
        std::string query;
        const char* says;
    } cases[] = {
        {"", noAction},
        {"action=GETIP", noAction},
        {"action=raceAdd&game=NFS4&data=name:x" + ip, noAction},
        {"action=racelist", noGame},
        {"action=racelist&game=nfs4", noGame},
        {"action=racelist&game=NFS6", noGame},
        {"action=raceadd&game=NFS4%20&data=name:x" + ip, noGame},
        {"action=raceadd&game=NFS4", badData},
        {"action=raceadd&game=NFS4&data=Name:x" + ip, badData},
        {"action=raceadd&game=NFS4&data=name:x", badData},
        {"action=raceadd&game=NFS4&data=name:x;ip:", badData},
        {"action=raceadd&game=NFS4&data=name:x;ip:12a", badData},
        {"action=raceadd&game=NFS4&data=name:x;ip:-1", badData},
        {"action=raceadd&game=NFS4&data=name:x;ip:4294967296", badData},
        {"action=raceadd&game=NFS4&data=name:x;ip:2130706433%0A", badData},
        {"action=raceadd&game=NFS4&data=ip:" + kHome, badData},
        {"action=racerem&game=NFS4&data=ip:abc", badData},
        {"action=racerem&game=NFS4&data=name:x" + ip, badData},
        {"action=raceadd&game=NFS4&data=name:" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:abcdefghijklmnopq" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:a,b" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:a%2C1,2" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:a%0Ab" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:a%0D%0Ab" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:a%00b" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:a%22b" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:x');DROP%20TABLE%20races;--" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:%3Cb%3Ehi%3C/b%3E" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:caf%C3%A9" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:a;b" + ip, badName},
        {"action=raceadd&game=NFS4&data=name:My+Race" + ip, badName},
        {"action=racelist&game=NFS%4", unreadable},
        {"action=racelist&game=NFS4%", unreadable},
        {"action=racelist&game=%zzNFS4", unreadable},
        {"action=getip&action=getip", unreadable},
        {"action=racelist&game=NFS4&game=NFS5", unreadable},
        {"action=racelist&game=NFS4&pad=" + std::string(300, 'x'), "The request is too long."},
    };
    for (const Case& k : cases) {
        std::string body = call(k.query);
        EXPECT_TRUE(isRefusal(body)) << k.query << " gave " << body;
        EXPECT_NE(body.find(k.says), std::string::npos) << k.query << " gave " << body;
        EXPECT_EQ(body.find("SQL"), std::string::npos) << body;
        EXPECT_EQ(body.find("sqlite"), std::string::npos) << body;
    }
    EXPECT_EQ(raceList("NFS4"), "OK\n" + kT0 + "\n0\n");
    EXPECT_EQ(raceList("NFS5"), "OK\n" + kT0 + "\n0\n");
}

TEST_F(Protocol, AFullListTakesNoNewAddressButStillReplacements) {
    auto c = config();
    c.maxRaces = 2;
    start(c);
    ASSERT_EQ(call(raceAddQuery("NFS4", "One", loopbackDecimal(0, 1))), "OK\n");
    ASSERT_EQ(call(raceAddQuery("NFS4", "Two", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    EXPECT_EQ(call(raceAddQuery("NFS4", "Three", loopbackDecimal(0, 3)), "127.0.0.3"),
              "ERROR\nThe NFS4 race list is full. Please try again later.\n");
    EXPECT_EQ(call(raceAddQuery("NFS4", "One again", loopbackDecimal(0, 1))), "OK\n");
    EXPECT_EQ(call(raceAddQuery("NFS5", "Three", loopbackDecimal(0, 3)), "127.0.0.3"), "OK\n");
    ASSERT_EQ(call(raceRemQuery("NFS4", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    EXPECT_EQ(call(raceAddQuery("NFS4", "Three", loopbackDecimal(0, 3)), "127.0.0.3"), "OK\n");
}

// IPv6 players announce nothing, so a block-list entry for them has nothing to refuse: from a
// blocked IPv6 address, as from any, no action changes a list.
TEST_F(Protocol, Ipv6AddressesChangeNoListBlockedOrNot) {
    start({}, "2001:db8::/32\n");
    const std::string needsIpv4 =
        "ERROR\nThe lobby needs an IPv4 connection to know your address, and yours is IPv6.\n";
    for (const char* source : {"2001:db8::1", "2001:db9::1"}) {
        EXPECT_EQ(call(raceAddQuery("NFS4", "x", "0"), source), needsIpv4) << source;
        EXPECT_EQ(call(raceRemQuery("NFS4", "0"), source), needsIpv4) << source;
        EXPECT_EQ(call("action=getip", source), needsIpv4) << source;
        EXPECT_EQ(call("action=racelist&game=NFS4", source), "OK\n" + kT0 + "\n0\n") << source;
    }
}

TEST_F(Protocol, TheWriterReportsAnnouncementsWithdrawalsAndExpiries) {
    auto c = config();
    c.raceTtlSeconds = 60;
    start(c);
    std::vector<std::string> seen;
    lists_->onEvent([&](const RaceEvent& e) {
        const char* kinds[] = {"announced", "withdrawn", "expired"};
        seen.push_back(std::string(kinds[static_cast<int>(e.kind)]) + " " +
                       std::string(kGames[static_cast<std::size_t>(e.game)].id) + " " +
                       e.race.name + " " + std::to_string(e.race.ip) + " " +
                       (e.race.created ? std::to_string(e.race.created - kStart) : "-"));
    });
    call(raceAddQuery("NFS4", "One", kHome));
    call(raceAddQuery("NFS5", "Two", loopbackDecimal(0, 2)), "127.0.0.2");
    call(raceAddQuery("NFS4", "Spoof", loopbackDecimal(0, 2)));  // refused: no event
    now_ += 30;
    call(raceRemQuery("NFS5", loopbackDecimal(0, 2)), "127.0.0.2");
    call(raceRemQuery("NFS5", loopbackDecimal(0, 2)), "127.0.0.2");  // no race: no event
    call(raceAddQuery("NFS5", "Three", kHome));
    lists_->sweep(kStart + 59);
    EXPECT_EQ(seen.size(), 4u);
    lists_->sweep(kStart + 60);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "announced NFS4 One " + kHome + " 0",
                        "announced NFS5 Two 2130706434 0",
                        "withdrawn NFS5  2130706434 -",
                        "announced NFS5 Three " + kHome + " 30",
                        "expired NFS4 One " + kHome + " 0",
                    }));
}

}  // namespace
