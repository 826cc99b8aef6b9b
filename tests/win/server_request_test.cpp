#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/error_text.h"
#include "recording_listener.h"
#include "server/server_request.h"
#include "test_http_server.h"
#include "ui_pump.h"

using namespace std::chrono_literals;

namespace {

class ServerRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<ServerRequest>(server.baseUrl());
        engine->setDeliveryWindow(window.handle());
    }
    void TearDown() override {
        engine.reset();
        // Every request record must be released once its handles are closed.
        EXPECT_TRUE(requestsReleased())
            << ServerRequest::requestsAlive() << " request records left";
    }
    bool waitForCalls(const RecordingListener& l, std::size_t n, std::chrono::milliseconds t = 20s) {
        return pumpUntil([&] { return l.calls.size() >= n; }, t);
    }

    TestHttpServer server;
    DeliveryWindow window;
    std::unique_ptr<ServerRequest> engine;
    RecordingListener listener;
};

TEST_F(ServerRequestTest, ComposesTheFourCallFormsAndIdentifiesItself) {
    engine->send(&listener, "getip");
    ASSERT_TRUE(waitForCalls(listener, 1));
    engine->send(&listener, "racelist", "NFS4");
    ASSERT_TRUE(waitForCalls(listener, 2));
    engine->send(&listener, "raceadd", "NFS5", "name:Test1;ip:167772161");
    ASSERT_TRUE(waitForCalls(listener, 3));
    engine->send(&listener, "racerem", "", "ip:1");
    ASSERT_TRUE(waitForCalls(listener, 4));

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].target, "/server/server.php?action=getip");
    EXPECT_EQ(requests[1].target, "/server/server.php?action=racelist&game=NFS4");
    EXPECT_EQ(requests[2].target, "/server/server.php?action=raceadd&game=NFS5&data=name:Test1;ip:167772161");
    EXPECT_EQ(requests[3].target, "/server/server.php?action=racerem&data=ip:1");
    for (auto& r : requests) {
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.header("User-Agent"), "Kestrun Client");
        EXPECT_EQ(r.header("Pragma"), "no-cache");
    }
    EXPECT_EQ(engine->agent(), "Kestrun Client");
    const DWORD ui = GetCurrentThreadId();
    for (auto& call : listener.calls) {
        EXPECT_EQ(call.kind, ListenerCall::Response);
        EXPECT_EQ(call.text, "OK\n");
        EXPECT_EQ(call.threadId, ui) << "listener called off the user-interface thread";
    }
    EXPECT_EQ(listener.calls[1].action, "racelist");
}

TEST_F(ServerRequestTest, PutsBlanksAmpersandsAndPercentSignsOnTheWireAsWinInetDoes) {
    engine->send(&listener, "raceadd", "NFS4", "name:a b'c&d%e;ip:1");
    ASSERT_TRUE(waitForCalls(listener, 1));
    auto r = server.requests().at(0);
    // WinINet escapes the blank; the ampersand and percent sign go out as they are,
    // so the ampersand splits the data value for the server.
    EXPECT_EQ(r.target, "/server/server.php?action=raceadd&game=NFS4&data=name:a%20b'c&d%e;ip:1");
    EXPECT_EQ(r.query("data"), "name:a b'c");
}

TEST_F(ServerRequestTest, StatusOtherThan200IsOneErrorWithTheCode) {
    server.setHandler([](const RecordedRequest&) {
        Reply r = Reply::ok("OK\nnot for you\n");
        r.status = 404;
        return r;
    });
    engine->send(&listener, "getip");
    ASSERT_TRUE(waitForCalls(listener, 1));
    pumpFor(200ms);
    ASSERT_EQ(listener.calls.size(), 1u);
    EXPECT_EQ(listener.calls[0].kind, ListenerCall::Error);
    EXPECT_EQ(listener.calls[0].text, "Error retrieving server response: 404");
}

TEST_F(ServerRequestTest, BodiesArriveWholeAndInOrder) {
    std::string big;
    for (int i = 0; big.size() < 5000; ++i) big += "line " + std::to_string(i) + "\n";
    big.resize(5000);
    std::string trickled;
    Reply slow;
    for (int i = 0; i < 40; ++i) {
        std::string piece = "piece" + std::to_string(i) + ";";
        trickled += piece;
        slow.pieces.push_back({piece, i % 4 == 0 ? 60 : 5});
    }
    server.setHandler([&](const RecordedRequest& r) {
        if (r.query("action") == "empty") return Reply::ok("");
        if (r.query("action") == "big") return Reply::ok(big);
        if (r.query("action") == "nul") return Reply::ok(std::string("OK\n12\0" "34\n", 9));
        return slow;
    });
    engine->send(&listener, "empty");
    ASSERT_TRUE(waitForCalls(listener, 1));
    engine->send(&listener, "big");
    ASSERT_TRUE(waitForCalls(listener, 2));
    engine->send(&listener, "nul");
    ASSERT_TRUE(waitForCalls(listener, 3));
    engine->send(&listener, "slow");
    ASSERT_TRUE(waitForCalls(listener, 4));

    for (auto& call : listener.calls) ASSERT_EQ(call.kind, ListenerCall::Response) << call.text;
    EXPECT_EQ(listener.calls[0].text, "");
    EXPECT_EQ(listener.calls[1].text.size(), 5000u);
    EXPECT_EQ(listener.calls[1].text, big);
    // A zero byte ends the text of the chunk in which it stands.
    EXPECT_EQ(listener.calls[2].text, "OK\n12");
    EXPECT_EQ(listener.calls[3].text, trickled);
}

TEST_F(ServerRequestTest, RefusesBodiesBeyondTheLimit) {
    std::string huge(ServerRequest::kMaxBodyBytes + 1, 'x');
    server.setHandler([&](const RecordedRequest&) { return Reply::ok(huge); });
    engine->send(&listener, "racelist", "NFS4");
    ASSERT_TRUE(waitForCalls(listener, 1, 60s));
    EXPECT_EQ(listener.calls[0].kind, ListenerCall::Error);
    EXPECT_EQ(listener.calls[0].text, "Error reading server response.");
}

TEST_F(ServerRequestTest, HandlerErrorTextsGoToTheSameListener) {
    struct Throwing : RecordingListener {
        void handleResponse(const std::string& action, const std::string& body) override {
            RecordingListener::handleResponse(action, body);
            throw ErrorText("Invalid server response.");
        }
    } throwing;
    engine->send(&throwing, "getip");
    ASSERT_TRUE(waitForCalls(throwing, 2));
    EXPECT_EQ(throwing.calls[0].kind, ListenerCall::Response);
    EXPECT_EQ(throwing.calls[1].kind, ListenerCall::Error);
    EXPECT_EQ(throwing.calls[1].text, "Invalid server response.");
}

TEST_F(ServerRequestTest, TwoRequestsInFlightEndIndependently) {
    std::atomic<int> arrived{0};
    server.setHandler([&](const RecordedRequest& r) {
        ++arrived;
        // The first answer waits until the second request has arrived.
        auto until = std::chrono::steady_clock::now() + 10s;
        while (r.query("action") == "first" && arrived < 2 && std::chrono::steady_clock::now() < until)
            Sleep(5);
        return Reply::ok("OK\n" + r.query("action") + "\n");
    });
    engine->send(&listener, "first");
    engine->send(&listener, "second");
    ASSERT_TRUE(waitForCalls(listener, 2));
    EXPECT_EQ(arrived.load(), 2);
    std::vector<std::string> bodies;
    for (auto& c : listener.calls) bodies.push_back(c.action + "=" + c.text);
    std::sort(bodies.begin(), bodies.end());
    EXPECT_EQ(bodies[0], "first=OK\nfirst\n");
    EXPECT_EQ(bodies[1], "second=OK\nsecond\n");
}

TEST_F(ServerRequestTest, ConnectionRefusedIsOneTransportError) {
    engine.reset();
    engine = std::make_unique<ServerRequest>(unreachableServerUrl());
    engine->setDeliveryWindow(window.handle());
    engine->send(&listener, "getip");
    ASSERT_TRUE(waitForCalls(listener, 1));
    pumpFor(300ms);
    ASSERT_EQ(listener.calls.size(), 1u);
    EXPECT_EQ(listener.calls[0].kind, ListenerCall::Error);
    EXPECT_TRUE(listener.calls[0].text == "Error connecting to server." ||
                listener.calls[0].text == "Error completing server request.")
        << listener.calls[0].text;
    // The engine stays usable.
    engine.reset();
    engine = std::make_unique<ServerRequest>(server.baseUrl());
    engine->setDeliveryWindow(window.handle());
    engine->send(&listener, "getip");
    ASSERT_TRUE(waitForCalls(listener, 2));
    EXPECT_EQ(listener.calls[1].kind, ListenerCall::Response);
}

TEST_F(ServerRequestTest, AnAnswerThatNeverComesTimesOut) {
    engine.reset();
    engine = std::make_unique<ServerRequest>(server.baseUrl(), 1500);
    engine->setDeliveryWindow(window.handle());
    server.setHandler([](const RecordedRequest&) {
        Reply r;
        r.silent = true;
        return r;
    });
    auto start = std::chrono::steady_clock::now();
    engine->send(&listener, "getip");
    ASSERT_TRUE(waitForCalls(listener, 1, 30s)) << "request still waiting";
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(listener.calls[0].kind, ListenerCall::Error);
    EXPECT_TRUE(listener.calls[0].text == "Error completing server request." ||
                listener.calls[0].text == "Error reading server response.")
        << listener.calls[0].text;
    EXPECT_LT(took, 20s);
    server.stop();
}

TEST_F(ServerRequestTest, AStalledBodyTimesOut) {
    engine.reset();
    engine = std::make_unique<ServerRequest>(server.baseUrl(), 1500);
    engine->setDeliveryWindow(window.handle());
    server.setHandler([](const RecordedRequest&) {
        Reply r;
        r.pieces = {{"OK\n", 0}, {"never", 600000}};
        return r;
    });
    engine->send(&listener, "getip");
    ASSERT_TRUE(waitForCalls(listener, 1, 30s)) << "request still waiting";
    EXPECT_EQ(listener.calls[0].kind, ListenerCall::Error);
    EXPECT_EQ(listener.calls[0].text, "Error reading server response.");
    server.stop();
}

TEST_F(ServerRequestTest, TenRedirectsAreFollowedAndTheEleventhEndsTheRequest) {
    // "chain" hops ten times before its answer; "loop" points back at itself for ever.
    server.setHandler([](const RecordedRequest& r) {
        const int hop = r.query("game").empty() ? 0 : std::stoi(r.query("game"));
        if (r.query("action") == "chain" && hop == 10) return Reply::ok("OK\nthere\n");
        Reply again;
        again.status = 302;
        again.location = "/server/server.php?action=" + r.query("action") + "&game=" + std::to_string(hop + 1);
        return again;
    });
    engine->send(&listener, "chain");
    ASSERT_TRUE(waitForCalls(listener, 1));
    EXPECT_EQ(listener.calls[0].kind, ListenerCall::Response);
    EXPECT_EQ(listener.calls[0].text, "OK\nthere\n");
    engine->send(&listener, "loop");
    ASSERT_TRUE(waitForCalls(listener, 2));
    EXPECT_EQ(listener.calls[1].kind, ListenerCall::Error);
    EXPECT_EQ(listener.calls[1].text, "Error completing server request.");
    // The hops stop with the request.
    const std::size_t seen = server.requestCount();
    pumpFor(500ms);
    EXPECT_EQ(server.requestCount(), seen);
    EXPECT_LE(seen, 11u + 12u);
}

TEST(ServerRequestSend, WithoutADeliveryWindowFailsLoudly) {
    ServerRequest engine("http://127.0.0.1:9/server/server.php");
    RecordingListener listener;
    EXPECT_THROW(engine.send(&listener, "getip"), std::logic_error);
}

TEST_F(ServerRequestTest, DestroyingEnginesWithRequestsInFlightIsSafe) {
    server.setHandler([](const RecordedRequest& r) {
        Reply reply;
        int n = std::stoi(r.query("game").empty() ? "0" : r.query("game"));
        if (n % 3 == 0) reply.pieces = {{"OK\n", 0}, {"tail\n", 50}};
        else if (n % 3 == 1) reply.delayMs = 30;
        else reply.body = "OK\n";
        return reply;
    });
    for (int round = 0; round < 40; ++round) {
        RecordingListener doomed;
        {
            ServerRequest shortLived(server.baseUrl());
            shortLived.setDeliveryWindow(window.handle());
            for (int i = 0; i < 3; ++i) shortLived.send(&doomed, "racelist", std::to_string(round + i));
            // Let some of them get under way, at a different point each round.
            pumpFor(std::chrono::milliseconds(round % 8 * 5));
        }
        std::size_t before = doomed.calls.size();
        pumpFor(5ms);
        ASSERT_EQ(doomed.calls.size(), before) << "a completion reached a destroyed engine's listener";
    }
    // Nothing after the destruction may reach the listeners, and every record goes.
    pumpFor(300ms);
    EXPECT_TRUE(requestsReleased(15s))
        << ServerRequest::requestsAlive() << " request records left";
}

}  // namespace
