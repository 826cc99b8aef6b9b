// The public IP lookup against the scriptable loopback server, with its real error boxes.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "common/error_text.h"
#include "error_boxes.h"
#include "server/ip_lookup.h"
#include "tab_host.h"
#include "test_http_server.h"
#include "ui_pump.h"

using namespace std::chrono_literals;

namespace {

std::string ipOrError(const IpLookup& lookup) {
    try {
        return lookup.ip();
    } catch (const ErrorText& e) {
        return "thrown: " + e.text;
    }
}

struct LookupCase {
    const char* body;
    IpState state;
    std::string ip;    // or "thrown: " and the text
    std::string error; // the box's text, empty if none
};

class IpLookupTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(requestsReleased());
    }
    ErrorBoxWatcher boxes;
    TestHttpServer server;
    TabHost host;
};

TEST_F(IpLookupTest, EachAnswerLeavesItsStateAndTexts) {
    const LookupCase cases[] = {
        {"OK\r\n1.2.3.4\r\n", IpState::Retrieved, "1.2.3.4", ""},
        {"OK\n1.2.3.4\nfurther\nlines\n", IpState::Retrieved, "1.2.3.4", ""},
        {"OK\n\n", IpState::Retrieved, "", ""},
        {"OK\n1.2.3.4", IpState::NotRetrieved, "thrown: IP hasn't been retrieved.", "Invalid server response."},
        {"", IpState::NotRetrieved, "thrown: IP hasn't been retrieved.", "Invalid server response."},
        {"ERROR\nYou are banned.", IpState::ServerError, "thrown: IP couldn't been retrieved.", "You are banned."},
        {"Hello\n1.2.3.4\n", IpState::UnknownResponse, "thrown: IP couldn't been retrieved.",
         "Unknown server response."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const std::string body = c.body;
        server.setHandler([body](const RecordedRequest&) { return Reply::ok(body); });
        const std::size_t requestsBefore = server.requestCount();
        const std::size_t boxesBefore = boxes.count();
        IpLookup lookup(host.window(), server.baseUrl());
        EXPECT_EQ(lookup.state(), IpState::NotRetrieved);
        EXPECT_EQ(ipOrError(lookup), "thrown: IP hasn't been retrieved.");
        ASSERT_TRUE(pumpUntil([&] {
            return c.error.empty() ? lookup.hasIp() : boxes.count() == boxesBefore + 1;
        }));
        EXPECT_EQ(lookup.state(), c.state);
        EXPECT_EQ(lookup.hasIp(), c.state == IpState::Retrieved);
        EXPECT_EQ(ipOrError(lookup), c.ip);
        ASSERT_EQ(boxes.count(), boxesBefore + (c.error.empty() ? 0 : 1));
        if (!c.error.empty()) {
            const SeenErrorBox box = boxes.boxes().back();
            EXPECT_EQ(box.text, c.error);
            EXPECT_EQ(box.caption, "Error");
            EXPECT_EQ(box.owner, host.window());
        }
        ASSERT_EQ(server.requestCount(), requestsBefore + 1);
        EXPECT_EQ(server.requests().back().target, "/server/server.php?action=getip");
    }
}

TEST_F(IpLookupTest, AsksOnceAndIgnoresOtherActions) {
    server.setHandler([](const RecordedRequest&) { return Reply::ok("OK\n5.6.7.8\n"); });
    IpLookup lookup(host.window(), server.baseUrl());
    ASSERT_TRUE(pumpUntil([&] { return lookup.hasIp(); }));
    lookup.handleResponse("GETIP", "OK\n9.9.9.9\n");
    lookup.handleResponse("racelist", "ERROR\nx");
    EXPECT_EQ(lookup.state(), IpState::Retrieved);
    EXPECT_EQ(lookup.ip(), "5.6.7.8");
    auto seen = boxes.boxes();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Invalid server action: GETIP");
    EXPECT_EQ(seen[1].text, "Invalid server action: racelist");
    pumpFor(200ms);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(IpLookupTest, UnreachableServerIsReportedOnceAndNeverRetried) {
    IpLookup lookup(host.window(), unreachableServerUrl());
    ASSERT_TRUE(pumpUntil([&] { return boxes.count() == 1; }));
    const std::string text = boxes.boxes()[0].text;
    EXPECT_TRUE(text == "Error connecting to server." || text == "Error completing server request.") << text;
    pumpFor(200ms);
    EXPECT_EQ(boxes.count(), 1u);
    EXPECT_EQ(lookup.state(), IpState::NotRetrieved);
    EXPECT_EQ(ipOrError(lookup), "thrown: IP hasn't been retrieved.");
}

TEST_F(IpLookupTest, ALookupDestroyedBeforeItsAnswerHearsNothing) {
    Reply late = Reply::ok("OK\n1.2.3.4\n");
    late.delayMs = 300;
    server.setHandler([late](const RecordedRequest&) { return late; });
    {
        IpLookup lookup(host.window(), server.baseUrl());
        ASSERT_TRUE(pumpUntil([&] { return server.requestCount() == 1; }));
    }
    pumpFor(600ms);
    EXPECT_EQ(boxes.count(), 0u);
}

}  // namespace
