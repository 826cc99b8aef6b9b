// What a request brings, parsed: the query and its race data, peer addresses, the proxy's
// header item, mended request lines; and the escaping of what goes back out.
#include <gtest/gtest.h>

#include "http/peer_address.h"
#include "http/request_line.h"
#include "protocol/query.h"
#include "site/escaping.h"
#include "wire/text_rules.h"

namespace {

using namespace lobby;
using namespace std::string_literals;

TEST(LobbyWire, ParseQueryDecodesTheThreeKeys) {
    struct Case {
        std::string raw;
        std::optional<std::string> action, game, data;
    } cases[] = {
        {"action=getip", "getip", {}, {}},
        {"action=racelist&game=NFS4", "racelist", "NFS4", {}},
        {"action=raceadd&game=NFS5&data=name:My%20Race;ip:1", "raceadd", "NFS5", "name:My Race;ip:1"},
        {"action=raceadd&data=name:O'Neil;ip:1", "raceadd", {}, "name:O'Neil;ip:1"},
        {"data=name:a+b;ip:1&action=raceadd", "raceadd", {}, "name:a+b;ip:1"},
        {"&&action=getip&&unknown=1&x", "getip", {}, {}},
        {"action=&game", "", "", {}},
        {"%61ction=getip", "getip", {}, {}},
        {"action=a=b", "a=b", {}, {}},
        {"data=%00%0a%2C", {}, {}, "\0\n,"s},
        {"", {}, {}, {}},
    };
    for (const Case& c : cases) {
        auto q = parseQuery(c.raw);
        ASSERT_TRUE(q.has_value()) << c.raw;
        EXPECT_EQ(q->action, c.action) << c.raw;
        EXPECT_EQ(q->game, c.game) << c.raw;
        EXPECT_EQ(q->data, c.data) << c.raw;
    }
    for (const char* bad : {"action=%", "action=%4", "action=%4g", "action=%%41", "%zz=1",
                            "action=getip&action=getip", "game=NFS4&game=NFS4", "data=&data="})
        EXPECT_FALSE(parseQuery(bad).has_value()) << bad;
}

TEST(LobbyWire, PeerAddressesAreIpv4WheneverPossible) {
    struct Case {
        const char* text;
        bool isIpv4;
        std::uint32_t ipv4;
        const char* normal;
    } cases[] = {
        {"1.2.3.4", true, 16909060u, "1.2.3.4"},
        {"::ffff:10.0.0.1", true, 167772161u, "10.0.0.1"},
        {"::FFFF:255.255.255.255", true, 4294967295u, "255.255.255.255"},
        {"::1", false, 0, "::1"},
        {"2001:DB8:0::1", false, 0, "2001:db8::1"},
    };
    for (const Case& c : cases) {
        auto peer = parsePeerAddress(c.text);
        ASSERT_TRUE(peer) << c.text;
        EXPECT_EQ(peer->isIpv4, c.isIpv4) << c.text;
        EXPECT_EQ(peer->ipv4, c.ipv4) << c.text;
        EXPECT_EQ(peer->text, c.normal) << c.text;
    }
    for (std::string bad : {""s, "1.2.3"s, "1.2.3.256"s, "01.2.3.4"s, " 1.2.3.4"s, "1.2.3.4\0"s,
                            "localhost"s, std::string(100, '1')})
        EXPECT_FALSE(parsePeerAddress(bad).has_value()) << bad;
    EXPECT_EQ(formatIp(0), "0.0.0.0");
    EXPECT_EQ(formatIp(2130706433u), "127.0.0.1");
}

TEST(LobbyWire, LastHeaderItemIsTheProxysOwnEntry) {
    EXPECT_EQ(lastHeaderItem("203.0.113.9"), "203.0.113.9");
    EXPECT_EQ(lastHeaderItem("6.6.6.6, 203.0.113.9"), "203.0.113.9");
    EXPECT_EQ(lastHeaderItem(" 6.6.6.6 ,\t203.0.113.9 \t"), "203.0.113.9");
    EXPECT_EQ(lastHeaderItem("203.0.113.9,"), "");
}

TEST(LobbyWire, RequestLinesWithRawBlanksAreMended) {
    struct Case {
        std::string line, mended;
        bool plain;
    } cases[] = {
        {"GET /s?data=name:My Race;ip:1 HTTP/1.1\r\n", "GET /s?data=name:My%20Race;ip:1 HTTP/1.1\r\n", true},
        {"GET /s?a= b  c HTTP/1.0\n", "GET /s?a=%20b%20%20c HTTP/1.0\n", true},
        {"GET /plain HTTP/1.1\r\n", "GET /plain HTTP/1.1\r\n", true},
        {"GET /s?x=1 2\r\n", "GET /s?x=1 2\r\n", false},
        {"GET\r\n", "GET\r\n", false},
        {"GET  /x HTTP/1.1\r\n", "GET %20/x HTTP/1.1\r\n", true},
        {"GET /a\x01 b HTTP/1.1\r\n", "GET /a\x01%20b HTTP/1.1\r\n", false},
        {"GET /a b HTTP/2\r\n", "GET /a%20b HTTP/2\r\n", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mendRequestLine(c.line), c.mended) << c.line;
        EXPECT_EQ(isPlainRequestLine(c.mended), c.plain) << c.line;
    }
}

TEST(LobbyWire, EscapingLeavesNothingActive) {
    EXPECT_EQ(escapeHtml("<a href=\"x\">O'Neil & co</a>"),
              "&lt;a href=&quot;x&quot;&gt;O&#39;Neil &amp; co&lt;/a&gt;");
    EXPECT_EQ(escapeHtml("a\nb\0c"s), "a&#xFFFD;b&#xFFFD;c");
    EXPECT_EQ(escapeForLog("GET /a\"b\\c\n\xff", 100), "GET /a\\x22b\\x5cc\\x0a\\xff");
    EXPECT_EQ(escapeForLog("abcdef", 3), "abc...");
}

}  // namespace
