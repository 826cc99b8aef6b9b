// The lobby over HTTP, against a server on a loopback port: what needs the sockets (raw
// request lines, framing, addresses, limits, restarts, the website and the access log).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <limits>

#include "lobby_fixture.h"
#include "site/website.h"

namespace {

using namespace std::string_literals;

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
        std::string target = "/server/server.php?" + raceAddQuery("NFS5", c.onTheWire, kHome);
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
                           "GET /server/server.php?" + raceAddQuery("NFS4", "A B C", kHome) + head +
                           "GET /server/server.php?action=racelist&game=NFS4 HTTP/1.1\r\n"
                           "Host: x\r\nConnection: close\r\n\r\n";
    auto replies = splitReplies(*exchangeRaw(port(), requests));
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].body, "OK\n127.0.0.1\n");
    EXPECT_EQ(replies[1].body, "OK\n");
    EXPECT_EQ(replies[2].body, "OK\n" + kT0 + "\n1\nA B C," + kHome + "," + kT0 + "\n");
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

// Back-pressure: a client that pipelines and reads nothing is answered only a little ahead
// (the session reads no further request while an answer waits), until the write deadline.
TEST_F(LobbyTest, AClientThatReadsNothingIsAnsweredOnlyALittleAhead) {
    lobby::LobbyConfig c = config();
    c.downloadsDir = dir_.file("");
    c.writeTimeout = std::chrono::milliseconds(300);
    std::ofstream(dir_.file("big.bin"), std::ios::binary) << std::string(64 * 1024, 'x');
    start(c);
    std::string pipelined;
    for (int i = 0; i < 200; ++i) pipelined += "GET /download/big.bin HTTP/1.1\r\nHost: x\r\n\r\n";
    HeldConnection reader(port(), "127.0.0.1", pipelined);
    ASSERT_TRUE(pollUntil([&] { return lobby_->server.httpCounters().writeTimeouts > 0; }));
    EXPECT_LE(accessLog().size(), 8u);  // of 200 asked: 512 KiB at most, not 12.5 MiB
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
    ASSERT_EQ(call(raceAddQuery("NFS4", "Old", kHome)), "OK\n");
    now_ += 30;
    ASSERT_EQ(call(raceAddQuery("NFS4", "Young", loopbackDecimal(0, 2)), "127.0.0.2"), "OK\n");
    now_ += 29;
    EXPECT_NE(raceList("NFS4").find("\n2\n"), std::string::npos);
    now_ += 1;
    std::string t60 = std::to_string(kStart + 60), t30 = std::to_string(kStart + 30);
    EXPECT_EQ(raceList("NFS4"), "OK\n" + t60 + "\n1\nYoung,2130706434," + t30 + "\n");
    EXPECT_EQ(httpGet(port(), "/").body.find("Old"), std::string::npos);
}

// Both loops answer lists while the writer replaces them and each second's text is made
// anew: every answer is one whole list (ThreadSanitizer, in its build, checks the hand-over).
TEST_F(LobbyTest, ListsAnsweredOnEveryLoopWhileTheyChangeAreWhole) {
    auto c = config();
    c.threads = 2;
    start(c);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, answered{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r)
        readers.emplace_back([&] {
            while (!done) {
                std::string body = raceList("NFS4");
                std::size_t count = 0, second = body.find('\n', 3), third = body.find('\n', second + 1);
                if (body.rfind("OK\n", 0) == 0 && third != std::string::npos)
                    count = std::stoul(body.substr(second + 1, third - second - 1));
                if (count != static_cast<std::size_t>(std::count(body.begin() + third + 1, body.end(), '\n')))
                    ++torn;
                ++answered;
            }
        });
    for (int i = 0; i < 60; ++i) {
        now_ += 1;
        EXPECT_EQ(call(raceAddQuery("NFS4", "Race" + std::to_string(i), loopbackDecimal(1, i + 1)),
                       loopbackSource(1, i + 1)),
                  "OK\n");
    }
    done = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(answered.load(), 60);
}

TEST_F(LobbyTest, ThePeriodicSweepRemovesExpiredRacesWithoutAnyListing) {
    auto c = config();
    c.raceTtlSeconds = 60;
    c.sweepInterval = std::chrono::milliseconds(20);
    start(c);
    ASSERT_EQ(call(raceAddQuery("NFS4", "Going", kHome)), "OK\n");
    ASSERT_EQ(call(raceAddQuery("NFS5", "Going too", kHome)), "OK\n");
    auto stored = [this] {
        return store().list("NFS4", std::numeric_limits<std::int64_t>::min()).size() +
               store().list("NFS5", std::numeric_limits<std::int64_t>::min()).size();
    };
    ASSERT_EQ(stored(), 2u);
    now_ += 60;
    EXPECT_TRUE(pollUntil([&] { return stored() == 0; }));
}

TEST_F(LobbyTest, RacesSurviveARestart) {
    start();
    ASSERT_EQ(call(raceAddQuery("NFS4", "Kept", kHome)), "OK\n");
    ASSERT_EQ(call(raceAddQuery("NFS5", "Kept too", loopbackDecimal(0, 9)), "127.0.0.9"), "OK\n");
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
    EXPECT_EQ(httpGet(port(), "/server/server.php?" + raceAddQuery("NFS4", "x", "0"), "::1", "", "::1").body,
              needsIpv4);
    EXPECT_EQ(httpGet(port(), "/server/server.php?action=racelist&game=NFS4", "::1", "", "::1").body,
              "OK\n" + kT0 + "\n0\n");
}

TEST_F(LobbyTest, WebsiteShowsBothGamesRaces) {
    start();
    ASSERT_EQ(call(raceAddQuery("NFS4", "O'Neil%20cup", kHome)), "OK\n");
    now_ += 125;
    ASSERT_EQ(call(raceAddQuery("NFS5", "Sprint", loopbackDecimal(0, 5)), "127.0.0.5"), "OK\n");
    HttpReply page = httpGet(port(), "/");
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.head.find("Content-Type: text/html"), std::string::npos);
    for (const char* expected :
         {"<h2>NFS4 (1 race)</h2>", "<h2>NFS5 (1 race)</h2>",
          "<tr><td>O&#39;Neil cup</td><td>127.0.0.1</td><td>2 min</td><td>not checked</td></tr>",
          "<tr><td>Sprint</td><td>127.0.0.5</td><td>under a minute</td><td>not checked</td></tr>", "Kestrun client"})
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
    call(raceAddQuery("NFS4", "x", loopbackDecimal(0, 2)));
    httpGet(port(), "/");
    exchangeRaw(port(), "GET /\x01\x7f\"x HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(pollUntil([&] { return accessLog().size() >= 4; }));
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
