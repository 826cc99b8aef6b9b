// The lobby's protocol and website over HTTP, against a server on a loopback port.
#include <gtest/gtest.h>

#include <limits>

#include "lobby_fixture.h"
#include "website.h"

namespace {

using namespace std::string_literals;

const std::string kHome = loopbackDecimal(0, 1);  // 127.0.0.1
const std::string kT0 = std::to_string(LobbyTest::kStart);

std::string add(const std::string& game, const std::string& name, const std::string& ip) {
    return "action=raceadd&game=" + game + "&data=name:" + name + ";ip:" + ip;
}

std::string rem(const std::string& game, const std::string& ip) {
    return "action=racerem&game=" + game + "&data=ip:" + ip;
}

bool isRefusal(const std::string& body) {
    return body.rfind("ERROR\n", 0) == 0 && body.size() > 6 && body.back() == '\n' &&
           body.find('\n', 6) == body.size() - 1;
}

TEST_F(LobbyTest, GetIpAnswersThePeersAddress) {
    start();
    EXPECT_EQ(call("action=getip"), "OK\n127.0.0.1\n");
    EXPECT_EQ(call("action=getip", "127.0.0.42"), "OK\n127.0.0.42\n");
    EXPECT_EQ(call("action=getip", "127.1.2.3"), "OK\n127.1.2.3\n");
}

TEST_F(LobbyTest, RaceListBodiesAreExact) {
    start();
    EXPECT_EQ(raceList("NFS4"), "OK\n" + kT0 + "\n0\n");
    ASSERT_EQ(call(add("NFS4", "Race%20one", kHome)), "OK\n");
    now_ += 5;
    ASSERT_EQ(call(add("NFS4", "Second", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    now_ += 5;
    std::string t5 = std::to_string(kStart + 5), t10 = std::to_string(kStart + 10);
    EXPECT_EQ(raceList("NFS4"), "OK\n" + t10 + "\n2\nSecond,2130706434," + t5 + "\nRace one," +
                                    kHome + "," + kT0 + "\n");
    EXPECT_EQ(raceList("NFS5"), "OK\n" + t10 + "\n0\n");
}

TEST_F(LobbyTest, NamesArriveEncodedOrRawAsTheClientsLibrarySendsThem) {
    start();
    struct Case {
        std::string onTheWire;
        std::string stored;
    } cases[] = {
        {"My%20Race", "My Race"},   {"My Race", "My Race"},   {"O'Neil", "O'Neil"},
        {"O%27Neil", "O'Neil"},     {"  a-b_c'd 9", "  a-b_c'd 9"},
        {"abcdefghijklmnop", "abcdefghijklmnop"},
    };
    for (const Case& c : cases) {
        std::string target = "/server/server.php?" + add("NFS5", c.onTheWire, kHome);
        auto replies = splitReplies(*exchangeRaw(port(), "GET " + target +
                                                            " HTTP/1.1\r\nHost: x\r\n"
                                                            "Connection: close\r\n\r\n"));
        ASSERT_EQ(replies.size(), 1u) << c.onTheWire;
        EXPECT_EQ(replies[0].status, 200) << c.onTheWire;
        EXPECT_EQ(replies[0].body, "OK\n") << c.onTheWire;
        EXPECT_EQ(raceList("NFS5"), "OK\n" + kT0 + "\n1\n" + c.stored + "," + kHome + "," + kT0 + "\n")
            << c.onTheWire;
    }
}

TEST_F(LobbyTest, KeptAliveConnectionMendsEachRequestLine) {
    start();
    std::string head = " HTTP/1.1\r\nHost: x\r\n\r\n";
    std::string requests = "GET /server/server.php?action=getip" + head +
                           "GET /server/server.php?" + add("NFS4", "A B C", kHome) + head +
                           "GET /server/server.php?action=racelist&game=NFS4 HTTP/1.1\r\n"
                           "Host: x\r\nConnection: close\r\n\r\n";
    auto replies = splitReplies(*exchangeRaw(port(), requests));
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].body, "OK\n127.0.0.1\n");
    EXPECT_EQ(replies[1].body, "OK\n");
    EXPECT_EQ(replies[2].body, "OK\n" + kT0 + "\n1\nA B C," + kHome + "," + kT0 + "\n");
}

TEST_F(LobbyTest, AddingAgainReplacesTheAddressesRace) {
    start();
    ASSERT_EQ(call(add("NFS4", "First", kHome)), "OK\n");
    ASSERT_EQ(call(add("NFS5", "Other game", kHome)), "OK\n");
    now_ += 100;
    ASSERT_EQ(call(add("NFS4", "Second", kHome)), "OK\n");
    std::string t100 = std::to_string(kStart + 100);
    EXPECT_EQ(raceList("NFS4"), "OK\n" + t100 + "\n1\nSecond," + kHome + "," + t100 + "\n");
    EXPECT_EQ(raceList("NFS5"), "OK\n" + t100 + "\n1\nOther game," + kHome + "," + kT0 + "\n");
}

TEST_F(LobbyTest, RemoveTakesOnlyTheRequestersRace) {
    start();
    ASSERT_EQ(call(add("NFS4", "Mine", kHome)), "OK\n");
    ASSERT_EQ(call(add("NFS4", "Theirs", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    EXPECT_EQ(call(rem("NFS5", kHome)), "ERROR\nYou have no race in the NFS5 race list.\n");
    EXPECT_EQ(call(rem("NFS4", kHome)), "OK\n");
    EXPECT_EQ(call(rem("NFS4", kHome)), "ERROR\nYou have no race in the NFS4 race list.\n");
    EXPECT_EQ(raceList("NFS4"), "OK\n" + kT0 + "\n1\nTheirs,2130706434," + kT0 + "\n");
}

TEST_F(LobbyTest, NoOneAddsOrRemovesARaceForSomeoneElsesAddress) {
    start();
    ASSERT_EQ(call(add("NFS4", "Victim", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    std::string before = raceList("NFS4");

    std::string spoofAdd = call(add("NFS4", "Spoof", loopbackDecimal(0, 2)));
    EXPECT_TRUE(isRefusal(spoofAdd)) << spoofAdd;
    EXPECT_NE(spoofAdd.find("127.0.0.1"), std::string::npos) << "says whose address it saw";
    EXPECT_TRUE(isRefusal(call(rem("NFS4", loopbackDecimal(0, 2)))));
    // An address text with a part above 255 travels as 0.
    EXPECT_TRUE(isRefusal(call(add("NFS4", "Zero", "0"))));
    EXPECT_EQ(raceList("NFS4"), before);
}

TEST_F(LobbyTest, EveryRefusalIsAnErrorBodyAndStoresNothing) {
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

TEST_F(LobbyTest, MalformedHttpIsRefusedAndTheServerCarriesOn) {
    start();
    const std::string huge(20000, 'a');
    struct Case {
        std::string request;
        int status;
    } cases[] = {
        {"GET /server/server.php?action=getip&data=" + huge + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
        {"GET /server/server.php?action=\0getip HTTP/1.1\r\nHost: x\r\n\r\n"s, 400},
        {"GET /server/server.php?action=getip\r\n\r\n", 400},
        {"GET /nowhere HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 404},
    };
    for (const Case& c : cases) {
        auto replies = splitReplies(*exchangeRaw(port(), c.request));
        ASSERT_FALSE(replies.empty()) << c.status;
        EXPECT_EQ(replies[0].status, c.status);
        EXPECT_TRUE(isRefusal(replies[0].body)) << replies[0].body;
    }
    EXPECT_EQ(call("action=getip"), "OK\n127.0.0.1\n");
}

// What could smuggle a second request, or make the lobby hold a client's bytes, is refused
// and the connection closed: nothing after it is answered.
TEST_F(LobbyTest, RequestsThatCannotBeFramedSafelyEndTheConnection) {
    start();
    const std::string getip = "GET /server/server.php?action=getip HTTP/1.1\r\nHost: x\r\n";
    std::string manyHeaders, bigHeaders;
    for (int i = 0; i < 101; ++i) manyHeaders += "X-" + std::to_string(i) + ": y\r\n";
    for (int i = 0; i < 20; ++i) bigHeaders += "X-" + std::to_string(i) + ": " + std::string(900, 'y') + "\r\n";
    struct Case {
        std::string request;
        int status;
    } cases[] = {
        {getip + "Content-Length: 0\r\nContent-Length: 0\r\n\r\n", 400},
        {getip + "Content-Length: 5\r\n\r\nhello", 400},
        {getip + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
        {getip + manyHeaders + "\r\n", 431},
        {getip + bigHeaders + "\r\n", 431},
    };
    for (const Case& c : cases) {
        auto replies = splitReplies(*exchangeRaw(port(), c.request + getip + "\r\n"));
        ASSERT_EQ(replies.size(), 1u) << c.request;
        EXPECT_EQ(replies[0].status, c.status);
        EXPECT_TRUE(isRefusal(replies[0].body)) << replies[0].body;
    }
    HttpReply ranged = httpGet(port(), "/", "127.0.0.1", "Range: bytes=0-0,1-1,2-2\r\n");
    EXPECT_EQ(ranged.status, 200);
    EXPECT_GT(ranged.body.size(), 100u);
}

TEST_F(LobbyTest, AFullListTakesNoNewAddressButStillReplacements) {
    auto c = config();
    c.maxRaces = 2;
    start(c);
    ASSERT_EQ(call(add("NFS4", "One", loopbackDecimal(0, 1))), "OK\n");
    ASSERT_EQ(call(add("NFS4", "Two", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    EXPECT_EQ(call(add("NFS4", "Three", loopbackDecimal(0, 3)), "127.0.0.3"),
              "ERROR\nThe NFS4 race list is full. Please try again later.\n");
    EXPECT_EQ(call(add("NFS4", "One again", loopbackDecimal(0, 1))), "OK\n");
    EXPECT_EQ(call(add("NFS5", "Three", loopbackDecimal(0, 3)), "127.0.0.3"), "OK\n");
    ASSERT_EQ(call(rem("NFS4", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    EXPECT_EQ(call(add("NFS4", "Three", loopbackDecimal(0, 3)), "127.0.0.3"), "OK\n");
}

TEST_F(LobbyTest, RateLimitEngagesPerAddressAndReleasesAfterAMinute) {
    auto c = config();
    c.rateLimit = 5;
    start(c);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(call("action=getip"), "OK\n127.0.0.1\n") << i;
    std::string refused = call("action=getip");
    EXPECT_TRUE(isRefusal(refused));
    EXPECT_NE(refused.find("Too many requests"), std::string::npos);
    EXPECT_EQ(httpGet(port(), "/").status, 429);
    EXPECT_EQ(call("action=getip", "127.0.0.2"), "OK\n127.0.0.2\n");

    now_ += 59;
    EXPECT_TRUE(isRefusal(call("action=getip")));
    now_ += 1;
    EXPECT_EQ(call("action=getip"), "OK\n127.0.0.1\n");
}

TEST_F(LobbyTest, ListsNeverShowAnExpiredRace) {
    auto c = config();
    c.raceTtlSeconds = 60;
    start(c);
    ASSERT_EQ(call(add("NFS4", "Old", kHome)), "OK\n");
    now_ += 30;
    ASSERT_EQ(call(add("NFS4", "Young", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    now_ += 29;
    EXPECT_NE(raceList("NFS4").find("\n2\n"), std::string::npos);
    now_ += 1;
    std::string t60 = std::to_string(kStart + 60), t30 = std::to_string(kStart + 30);
    EXPECT_EQ(raceList("NFS4"), "OK\n" + t60 + "\n1\nYoung,2130706434," + t30 + "\n");
    EXPECT_EQ(httpGet(port(), "/").body.find("Old"), std::string::npos);
}

TEST_F(LobbyTest, ThePeriodicSweepRemovesExpiredRacesWithoutAnyListing) {
    auto c = config();
    c.raceTtlSeconds = 60;
    c.sweepInterval = std::chrono::milliseconds(20);
    start(c);
    ASSERT_EQ(call(add("NFS4", "Going", kHome)), "OK\n");
    ASSERT_EQ(call(add("NFS5", "Going too", kHome)), "OK\n");
    auto stored = [this] {
        return store().list("NFS4", std::numeric_limits<std::int64_t>::min()).size() +
               store().list("NFS5", std::numeric_limits<std::int64_t>::min()).size();
    };
    ASSERT_EQ(stored(), 2u);
    now_ += 60;
    EXPECT_TRUE(waitUntil([&] { return stored() == 0; }));
}

TEST_F(LobbyTest, RacesSurviveARestart) {
    start();
    ASSERT_EQ(call(add("NFS4", "Kept", kHome)), "OK\n");
    ASSERT_EQ(call(add("NFS5", "Kept too", loopbackDecimal(0, 9)), "127.0.0.9"), "OK\n");
    std::string nfs4 = raceList("NFS4"), nfs5 = raceList("NFS5");
    restart();
    EXPECT_EQ(raceList("NFS4"), nfs4);
    EXPECT_EQ(raceList("NFS5"), nfs5);
}

TEST_F(LobbyTest, OnlyTheTrustedProxysHeaderIsBelieved) {
    struct Case {
        std::string trustedProxy, header, source, headers, expected;
    } cases[] = {
        {"", "X-Forwarded-For", "127.0.0.1", "X-Forwarded-For: 203.0.113.9\r\n", "OK\n127.0.0.1\n"},
        {"127.0.0.1", "X-Forwarded-For", "127.0.0.1", "X-Forwarded-For: 203.0.113.9\r\n",
         "OK\n203.0.113.9\n"},
        {"127.0.0.1", "X-Forwarded-For", "127.0.0.1",
         "X-Forwarded-For: 198.51.100.1, 203.0.113.9\r\n", "OK\n203.0.113.9\n"},
        {"127.0.0.1", "X-Forwarded-For", "127.0.0.1",
         "X-Forwarded-For: 198.51.100.1\r\nX-Forwarded-For: 203.0.113.7\r\n", "OK\n203.0.113.7\n"},
        {"127.0.0.1", "X-Forwarded-For", "127.0.0.2", "X-Forwarded-For: 203.0.113.9\r\n",
         "OK\n127.0.0.2\n"},
        {"127.0.0.1", "X-Real-IP", "127.0.0.1",
         "X-Forwarded-For: 198.51.100.1\r\nX-Real-IP: 203.0.113.5\r\n", "OK\n203.0.113.5\n"},
        {"127.0.0.1", "X-Real-IP", "127.0.0.1", "",
         "ERROR\nThe lobby could not tell your address.\n"},
        {"127.0.0.1", "X-Real-IP", "127.0.0.1", "X-Real-IP: not-an-address\r\n",
         "ERROR\nThe lobby could not tell your address.\n"},
    };
    for (const Case& k : cases) {
        auto c = config();
        c.trustedProxy = k.trustedProxy;
        c.proxyHeader = k.header;
        start(c);
        HttpReply reply = httpGet(port(), "/server/server.php?action=getip", k.source, k.headers);
        EXPECT_EQ(reply.body, k.expected) << k.trustedProxy << " / " << k.headers;
        lobby_.reset();
    }
}

TEST_F(LobbyTest, Ipv6PeersAreServedButCannotAnnounce) {
    auto c = config();
    c.host = "::";
    try {
        start(c);
    } catch (const lobby::BindError&) {
        GTEST_SKIP() << "no IPv6 on this machine";
    }
    EXPECT_EQ(call("action=getip"), "OK\n127.0.0.1\n") << "an IPv4-mapped peer counts as IPv4";
    HttpReply v6 = httpGet(port(), "/server/server.php?action=getip", "::1", "", "::1");
    if (v6.status == 0) GTEST_SKIP() << "no IPv6 loopback";
    const std::string needsIpv4 =
        "ERROR\nThe lobby needs an IPv4 connection to know your address, and yours is IPv6.\n";
    EXPECT_EQ(v6.body, needsIpv4);
    EXPECT_EQ(httpGet(port(), "/server/server.php?" + add("NFS4", "x", "0"), "::1", "", "::1").body,
              needsIpv4);
    EXPECT_EQ(httpGet(port(), "/server/server.php?action=racelist&game=NFS4", "::1", "", "::1").body,
              "OK\n" + kT0 + "\n0\n");
}

TEST_F(LobbyTest, WebsiteShowsBothGamesRaces) {
    start();
    ASSERT_EQ(call(add("NFS4", "O'Neil%20cup", kHome)), "OK\n");
    now_ += 125;
    ASSERT_EQ(call(add("NFS5", "Sprint", loopbackDecimal(0, 5)), "127.0.0.5"), "OK\n");
    HttpReply page = httpGet(port(), "/");
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.head.find("Content-Type: text/html"), std::string::npos);
    for (const char* expected :
         {"<h2>NFS4 (1 race)</h2>", "<h2>NFS5 (1 race)</h2>",
          "<tr><td>O&#39;Neil cup</td><td>127.0.0.1</td><td>2 min</td></tr>",
          "<tr><td>Sprint</td><td>127.0.0.5</td><td>under a minute</td></tr>", "Kestrun client"})
        EXPECT_NE(page.body.find(expected), std::string::npos) << expected;
    // Its one script is the lobby's own.
    const std::string own = "<script src=\"/site.js\" defer></script>";
    std::size_t script = page.body.find("<script");
    ASSERT_NE(script, std::string::npos);
    EXPECT_EQ(page.body.substr(script, own.size()), own);
    EXPECT_EQ(page.body.find("<script", script + 1), std::string::npos);
    for (const char* external : {"<link", "http://", "https://"})
        EXPECT_EQ(page.body.find(external), std::string::npos) << external;
}

TEST(Website, EscapesEverythingAndLinksTheClient) {
    std::vector<lobby::GameRaces> games = {
        {"NFS4", {{"<script>alert(1)</script>", 16909060, 1000}}},
        {"NFS5", {{"a\"b'c&d\ne", 1, 1000 - 3 * 3600 - 60}}},
    };
    std::string page = lobby::renderWebsite(games, 1000, "https://example.org/get?a=1&b=\"2\"");
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("<td>a&quot;b&#39;c&amp;d&#xFFFD;e</td><td>0.0.0.1</td><td>3 h 1 min</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<td>1.2.3.4</td>"), std::string::npos);
    EXPECT_NE(page.find("href=\"https://example.org/get?a=1&amp;b=&quot;2&quot;\""),
              std::string::npos);
}

TEST_F(LobbyTest, AccessLogHasOneSafeLinePerRequest) {
    start();
    call("action=getip");
    call(add("NFS4", "x", loopbackDecimal(0, 2)));
    httpGet(port(), "/");
    exchangeRaw(port(), "GET /\x01\x7f\"x HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(waitUntil([&] { return accessLog().size() >= 4; }));
    auto log = accessLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_NE(log[0].find(" 127.0.0.1 \"GET /server/server.php?action=getip\" 200 13 \"OK\""),
              std::string::npos) << log[0];
    EXPECT_NE(log[1].find("\"ERROR: You can only announce a race"), std::string::npos) << log[1];
    EXPECT_NE(log[2].find("\"GET /\" 200"), std::string::npos) << log[2];
    EXPECT_NE(log[3].find("\"GET /\\x01\\x7f\\x22x\" 404"), std::string::npos) << log[3];
    for (const std::string& line : log)
        for (char ch : line) EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << line;
}

}  // namespace
