#include <gtest/gtest.h>

#include <string>

#include "common/error_text.h"
#include "server/envelope.h"
#include "server/request_url.h"

namespace {

struct EnvelopeCase {
    const char* name;
    std::string body;
    EnvelopeOutcome outcome;
    std::string rest;
};

TEST(ParseEnvelope, ClassifiesFirstLine) {
    const EnvelopeCase cases[] = {
        {"ok crlf", "OK\r\n", EnvelopeOutcome::Ok, ""},
        {"ok lf", "OK\n", EnvelopeOutcome::Ok, ""},
        {"ok payload", "OK\n1.2.3.4\n", EnvelopeOutcome::Ok, "1.2.3.4\n"},
        {"ok without lf", "OK", EnvelopeOutcome::Invalid, ""},
        {"empty", "", EnvelopeOutcome::Invalid, ""},
        {"lower case", "ok\n", EnvelopeOutcome::Unknown, ""},
        {"blank before", " OK\n", EnvelopeOutcome::Unknown, ""},
        {"blank after", "OK \n", EnvelopeOutcome::Unknown, ""},
        {"two carriage returns", "OK\r\r\n", EnvelopeOutcome::Unknown, ""},
        {"error text kept whole", "ERROR\r\nName taken\r\n", EnvelopeOutcome::Error, "Name taken\r\n"},
        {"error empty", "ERROR\n", EnvelopeOutcome::Error, ""},
        {"error without lf", "ERROR", EnvelopeOutcome::Invalid, ""},
        {"byte order mark", "\xEF\xBB\xBFOK\n", EnvelopeOutcome::Unknown, ""},
        {"lone lf", "\n", EnvelopeOutcome::Unknown, ""},
        {"lone cr lf", "\r\n", EnvelopeOutcome::Unknown, ""},
        {"nul in status", std::string("OK\0\n", 4), EnvelopeOutcome::Unknown, ""},
        {"status on second line only", "Hello\nOK\n", EnvelopeOutcome::Unknown, ""},
    };
    for (const auto& c : cases) {
        Envelope e = parseEnvelope(c.body);
        EXPECT_EQ(e.outcome, c.outcome) << c.name;
        EXPECT_EQ(e.rest, c.rest) << c.name;
    }
}

std::string thrownText(const Envelope& e) {
    try {
        requireOk(e);
    } catch (const ErrorText& error) {
        return error.text;
    }
    return "<nothing thrown>";
}

TEST(RequireOk, GivesPayloadOrTheUsersText) {
    EXPECT_EQ(requireOk(parseEnvelope("OK\r\nabc")), "abc");
    EXPECT_EQ(thrownText(parseEnvelope("OK")), "Invalid server response.");
    EXPECT_EQ(thrownText(parseEnvelope("Hello\n")), "Unknown server response.");
    EXPECT_EQ(thrownText(parseEnvelope("ERROR\nline one\r\nline two\n")), "line one\r\nline two\n");
    EXPECT_EQ(thrownText(parseEnvelope("ERROR\n")), "");
}

TEST(ComposeRequestUrl, LeavesOutEmptyValuesAndEscapesNothing) {
    const std::string base = "http://127.0.0.1:8080/server/server.php";
    EXPECT_EQ(composeRequestUrl(base, "getip", "", ""), base + "?action=getip");
    EXPECT_EQ(composeRequestUrl(base, "racelist", "NFS4", ""), base + "?action=racelist&game=NFS4");
    EXPECT_EQ(composeRequestUrl(base, "raceadd", "NFS5", "name:Test1;ip:167772161"),
              base + "?action=raceadd&game=NFS5&data=name:Test1;ip:167772161");
    EXPECT_EQ(composeRequestUrl(base, "racerem", "", "ip:1"), base + "?action=racerem&data=ip:1");
    EXPECT_EQ(composeRequestUrl(base, "raceadd", "NFS4", "name:a b&c%d"), base + "?action=raceadd&game=NFS4&data=name:a b&c%d");
    // A lobby behind a proxy under a path keeps its pages there.
    EXPECT_EQ(composeCheckPageUrl("http://example.org/kestrun/"), "http://example.org/kestrun/check");
}

}  // namespace
