// The prober's pure parts: DirectPlay's messages against the protocol document, the ranges it
// will not ask, and its schedule on a clock the test moves.
#include <gtest/gtest.h>

#include <algorithm>

#include "lobby_fixture.h"
#include "probe/dplay.h"
#include "probe/ranges.h"
#include "probe/schedule.h"
#include "stand_in_host.h"

namespace {

using namespace lobby;
using namespace std::chrono_literals;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

// MC-DPL4CS section 4.1, DirectPlay4EnumSessionsRequest. The section gives the sample's parsed
// fields and values rather than a dump: here they are laid out as 2.2.6 (DPSP_MSG_HEADER) and
// 2.2.29 (DPSP_MSG_ENUMSESSIONS) place them.
const std::string kSampleRequest = bytes({
    0x46, 0x00, 0xb0, 0xfa,                          // size 70, token 0xFAB
    0x02, 0x00, 0x08, 0xfc, 0x00, 0x00, 0x00, 0x00,  // family 2, port 2300, address 0.0.0.0
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // sin_zero
    'p', 'l', 'a', 'y', 0x02, 0x00, 0x0e, 0x00,      // signature, command 2, version 14
    0x0b, 0xa5, 0x52, 0xa0, 0xe0, 0xff, 0x11, 0xcf,  // {A052A50B-FFE0-CF11-9C4E-00A0C905425E}
    0x9c, 0x4e, 0x00, 0xa0, 0xc9, 0x05, 0x42, 0x5e,
    0x20, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // password offset 32, flags 0x2 (all)
    'P', 0, 'a', 0, 's', 0, 's', 0, 'w', 0, 'o', 0, 'r', 0, 'd', 0, 0, 0,
});

TEST(DirectPlay, RequestHasTheSamplesLayout) {
    auto guid = dplay::parseGuid("{A052A50B-FFE0-CF11-9C4E-00A0C905425E}");
    ASSERT_TRUE(guid);
    EXPECT_EQ(dplay::formatGuid(*guid), "{A052A50B-FFE0-CF11-9C4E-00A0C905425E}");
    EXPECT_EQ(dplay::enumSessions(2300, *guid, dplay::kEnumAll, u"Password"), kSampleRequest);
    // What the prober sends: null application, every session, password-protected ones too.
    std::string ours = dplay::enumSessions(2300, dplay::Guid{});
    ASSERT_EQ(ours.size(), 52u);
    EXPECT_EQ(ours.substr(0, 4), bytes({0x34, 0x00, 0xb0, 0xfa}));
    EXPECT_EQ(ours.substr(4, 24), kSampleRequest.substr(4, 24));
    EXPECT_EQ(ours.substr(28, 16), std::string(16, '\0'));
    EXPECT_EQ(ours.substr(44), bytes({0, 0, 0, 0, 0x42, 0, 0, 0}));
}

// No sample reply was found in section 4: the stand-in's reply is written from 2.2.30 and
// 2.2.5 by hand, and the prober's parser must read it and refuse every broken variant.
TEST(DirectPlay, ReplyIsReadOnlyWhenWhole) {
    std::string reply = enumSessionsReply({"Sunday race", 3, 8, true}, 2350);
    ASSERT_EQ(reply.size(), 28u + 80 + 4 + 24);
    auto session = dplay::parseEnumSessionsReply(reply);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->name, "Sunday race");
    EXPECT_EQ(session->currentPlayers, 3u);
    EXPECT_EQ(session->maxPlayers, 8u);
    EXPECT_TRUE(session->passwordRequired());
    EXPECT_EQ(session->gamePort, 2350);
    EXPECT_EQ(dplay::formatGuid(session->application), "{A052A50B-FFE0-CF11-9C4E-00A0C905425E}");

    auto broken = [&](std::size_t at, int value) {
        std::string b = reply;
        b[at] = static_cast<char>(value);
        return b;
    };
    for (const std::string& bad : {reply.substr(0, reply.size() - 1),  // shorter than its size
                                   reply + "x", broken(3, 0xfb),      // longer; another token
                                   broken(20, 'P'), broken(24, 2),     // signature; command
                                   broken(28, 81),                     // description's size
                                   broken(108, 0x74), broken(109, 1)}) // name offset outside
        EXPECT_FALSE(dplay::parseEnumSessionsReply(bad));
}

TEST(ProbeRanges, SpecialPurposeAddressesNeedAllowing) {
    struct Case {
        const char* address;
        bool probed;
    };
    for (Case c : {Case{"8.8.8.8", true}, {"100.63.255.255", true}, {"100.64.0.1", false},
                   {"127.0.0.5", false}, {"10.1.2.3", false}, {"172.31.0.1", false},
                   {"172.32.0.1", true}, {"192.168.0.1", false}, {"169.254.1.1", false},
                   {"192.0.2.1", false}, {"198.51.100.9", false}, {"203.0.113.9", false},
                   {"198.19.0.1", false}, {"224.0.0.1", false}, {"255.255.255.255", false},
                   {"0.1.2.3", false}}) {
        auto single = parseCidr(c.address);
        ASSERT_TRUE(single) << c.address;
        EXPECT_EQ(mayProbe(single->base, {}), c.probed) << c.address;
    }
    auto loopback = parseCidr("127.0.0.0/8");
    ASSERT_TRUE(loopback);
    EXPECT_TRUE(mayProbe(0x7f000105, {*loopback}));
    EXPECT_FALSE(mayProbe(0x0a000001, {*loopback}));
    for (const char* bad : {"127.0.0.1/8", "127.0.0.0/33", "127.0.0.0/", "1.2.3", "::1/128"})
        EXPECT_FALSE(parseCidr(bad)) << bad;
}

class Schedule : public ::testing::Test {
protected:
    using Time = ProbeSchedule::Time;
    static ProbeTimings timings() {
        ProbeTimings t;
        t.maxInFlight = 4;
        return t;
    }
    Time at(std::chrono::milliseconds offset) const { return Time{} + 1h + offset; }
    // Begins what is due at `when` and ends each check as `result` says.
    std::vector<ProbeSchedule::Start> run(std::chrono::milliseconds when, FailedStep failed,
                                          bool* withdraw = nullptr) {
        auto starts = s.due(at(when));
        for (const auto& start : starts) {
            ProbeSchedule::Result r{failed, 2300, {}};
            r.session.name = "race";
            bool w = s.finished(start, r, at(when), 1000 + when.count() / 1000);
            if (withdraw) *withdraw = *withdraw || w;
        }
        return starts;
    }
    ProbeSchedule s{timings()};
};

TEST_F(Schedule, ChecksWaitTheirTurnOldestFirstAndOnePerAddress) {
    for (std::uint32_t ip = 1; ip <= 6; ++ip) s.announced(0, ip, at(0ms));
    s.announced(1, 1, at(0ms));  // the same address in the other game
    auto first = s.due(at(0ms));
    ASSERT_EQ(first.size(), 4u);
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(first[i].ip, i + 1);
    EXPECT_TRUE(s.due(at(10ms)).empty());
    s.finished(first[0], {FailedStep::None, 1, {}}, at(20ms), 0);
    auto next = s.due(at(30ms));
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].ip, 5u);  // address 1's other race waits for its 5 s
    EXPECT_EQ(s.inFlight(), 4u);
}

TEST_F(Schedule, DatagramsStayWithinTheAddresssBudget) {
    s.announced(0, 7, at(0ms));
    int sent = 0;
    // Checked again and again for 60 s: three at once at most, one per 5 s on average.
    for (auto t = 0ms; t < 60s; t += 100ms) {
        for (const auto& start : s.due(at(t))) {
            for (int i = 0; i < 3; ++i) sent += s.takeDatagram(7, at(t)) ? 1 : 0;
            s.finished(start, {FailedStep::Udp47624, 0, {}}, at(t), 0);
        }
        if (t.count() % 1000 == 0) s.checkAgain(7, t.count() / 1000);
    }
    EXPECT_LE(sent, 3 + 60 / 5);
    EXPECT_GE(sent, 6);
}

TEST_F(Schedule, OneFailureDoesNotUndoAnAnswer) {
    s.announced(0, 9, at(0ms));
    EXPECT_EQ(s.of(0, 9).state, CheckState::Checking);
    run(0ms, FailedStep::Udp47624);
    run(15s, FailedStep::Udp47624);
    EXPECT_EQ(s.of(0, 9).state, CheckState::Checking);  // still within its first 3 minutes
    run(30s, FailedStep::None);
    EXPECT_EQ(s.of(0, 9).state, CheckState::Answering);
    EXPECT_EQ(s.of(0, 9).session, "race");
    EXPECT_TRUE(run(60s, FailedStep::None).empty());  // answered: next in 60 s
    run(90s, FailedStep::GamePort);
    EXPECT_EQ(s.of(0, 9).state, CheckState::Answering);
    run(150s, FailedStep::GamePort);
    Check c = s.of(0, 9);
    EXPECT_EQ(c.state, CheckState::NotReachable);
    EXPECT_EQ(c.failedStep, FailedStep::GamePort);
    EXPECT_EQ(c.gamePort, 2300);
    EXPECT_EQ(c.checked, 1150);
}

TEST_F(Schedule, NeverAnsweredIsNotReachableAfterItsFirstMinutes) {
    s.announced(0, 3, at(0ms));
    int checks = 0;
    for (auto t = 0ms; t <= 240s; t += 1s) checks += static_cast<int>(run(t, FailedStep::Udp47624).size());
    EXPECT_EQ(checks, 13 + 1);  // every 15 s for 3 minutes, then every 60 s
    EXPECT_EQ(s.of(0, 3).state, CheckState::NotReachable);
    EXPECT_EQ(s.of(0, 3).failedStep, FailedStep::Udp47624);
}

TEST_F(Schedule, SilentAfterAnsweringIsWithdrawnAfterItsTime) {
    ProbeTimings t = timings();
    t.withdrawSilent = 10min;
    s = ProbeSchedule(t);
    s.announced(1, 4, at(0ms));
    run(0ms, FailedStep::None);
    bool withdraw = false;
    auto minute = 60s;
    for (int i = 1; i <= 10; ++i) run(i * minute, FailedStep::Udp47624, &withdraw);
    EXPECT_FALSE(withdraw);  // 9 minutes since the first failure
    run(11 * minute, FailedStep::Udp47624, &withdraw);
    EXPECT_TRUE(withdraw);
    EXPECT_TRUE(run(12 * minute, FailedStep::Udp47624).empty());  // not asked again
}

TEST_F(Schedule, CheckAgainOncePer10SecondsAndOnlyForKnownAddresses) {
    EXPECT_FALSE(s.checkAgain(5, 100));
    s.announced(0, 5, at(0ms));
    run(0ms, FailedStep::None);
    EXPECT_TRUE(s.checkAgain(5, 100));
    EXPECT_FALSE(s.checkAgain(5, 109));
    EXPECT_EQ(run(6s, FailedStep::None).size(), 1u);  // not waiting for its 60 s
    EXPECT_TRUE(s.checkAgain(5, 110));
    s.withdrawn(0, 5);
    EXPECT_FALSE(s.checkAgain(5, 200));
    EXPECT_EQ(s.of(0, 5).state, CheckState::NotChecked);
}

// End to end on loopback: the lobby in this process, hosts on 127.R.x.y, timings shrunk.
class Probing : public LobbyTest {
protected:
    static ProbeTimings fast() {
        ProbeTimings t;
        t.retry = 150ms;
        t.firstWindow = 1s;
        t.recheck = 300ms;
        t.replyWindow = 400ms;
        t.connectTimeout = 300ms;
        t.resend = 100ms;
        t.addressGap = 100ms;
        return t;
    }
    lobby::LobbyConfig probing(ProbeTimings t = fast()) {
        lobby::LobbyConfig c = config();
        c.probe.allowed = {*parseCidr("127.0.0.0/8")};
        c.probe.listenHost = "127.0.0.1";
        c.probe.listenPort = 0;
        c.probe.timings = t;
        return c;
    }
    int host(HostBehaviour behaviour = HostBehaviour::Answer, StandInSession session = {}) {
        int h = hosts_.add(next_);
        next_ = hosts_.ip(h) + 1;
        hosts_.set(h, behaviour, std::move(session));
        return h;
    }
    void announce(int h, int game = 0, int toPort = 0) {
        ::HttpReply reply = httpGet(toPort ? toPort : port(),
                                  "/server/server.php?" + raceAddQuery(std::string(kGames[game].id), "Race",
                                                                       std::to_string(hosts_.ip(h))),
                                  hosts_.address(h));
        EXPECT_EQ(reply.body.rfind("OK", 0), 0u) << reply.body;
    }
    Check check(int h, int game = 0) { return lobby_->server.checks().of(game, hosts_.ip(h)); }
    const ProbeCounters& counters() { return lobby_->server.probeCounters(); }
    bool becomes(int h, CheckState state) {
        return pollUntil([&] { return check(h).state == state; }, 10s);
    }

    StandInHosts hosts_{1s};
    std::uint32_t next_ = randomLoopbackBlock();
};

TEST_F(Probing, AnsweringHostShowsItsSessionAndGamePort) {
    start(probing());
    int h = host(HostBehaviour::Answer, {"Sunday race", 3, 8, true});
    announce(h);
    ASSERT_TRUE(becomes(h, CheckState::Answering));
    Check c = check(h);
    EXPECT_EQ(c.session, "Sunday race");
    EXPECT_EQ(c.players, 3);
    EXPECT_EQ(c.maxPlayers, 8);
    EXPECT_TRUE(c.password);
    EXPECT_EQ(c.gamePort, hosts_.gamePort(h));
    EXPECT_EQ(c.checked, kStart);
    EXPECT_EQ(counters().answered.load(), 1u);
    // The request as it came over the wire: the sample's layout, our GUID and flags.
    std::string request = hosts_.lastRequest(h);
    ASSERT_EQ(request.size(), 52u);
    EXPECT_EQ(request.substr(20, 8), kSampleRequest.substr(20, 8));
    EXPECT_EQ(request.substr(44), bytes({0, 0, 0, 0, 0x42, 0, 0, 0}));
}

TEST_F(Probing, EachFailedStepIsNamed) {
    start(probing());
    int silent = host(HostBehaviour::Silent), closed = host(HostBehaviour::GamePortClosed);
    announce(silent);
    announce(closed, 1);
    EXPECT_EQ(check(silent).state, CheckState::Checking);
    ASSERT_TRUE(becomes(silent, CheckState::NotReachable));
    EXPECT_EQ(check(silent).failedStep, FailedStep::Udp47624);
    ASSERT_TRUE(pollUntil([&] { return check(closed, 1).state == CheckState::NotReachable; }, 10s));
    EXPECT_EQ(check(closed, 1).failedStep, FailedStep::GamePort);
    EXPECT_EQ(check(closed, 1).gamePort, hosts_.gamePort(closed));
    EXPECT_GE(counters().failedGamePort.load(), 1u);
}

// The first check ends not reachable and the next is seconds away, so a late reply meets no
// pending probe.
TEST_F(Probing, RepliesOtherThanTheHostsOwnInTimeAreIgnoredAndCounted) {
    ProbeTimings t = fast();
    t.firstWindow = 300ms;
    t.recheck = 5s;
    start(probing(t));
    struct Case {
        HostBehaviour behaviour;
        const std::atomic<std::uint64_t>& counter;
    };
    for (Case c : {Case{HostBehaviour::Garbage, counters().badReplies},
                   {HostBehaviour::Oversized, counters().badReplies},
                   {HostBehaviour::FromElsewhere, counters().strangerReplies},
                   {HostBehaviour::Late, counters().strangerReplies}}) {
        std::uint64_t before = c.counter.load();
        int h = host(c.behaviour);
        announce(h);
        ASSERT_TRUE(becomes(h, CheckState::NotReachable)) << static_cast<int>(c.behaviour);
        EXPECT_EQ(check(h).failedStep, FailedStep::Udp47624);
        EXPECT_TRUE(pollUntil([&] { return c.counter.load() > before; }, 5s)) << static_cast<int>(c.behaviour);
    }
}

TEST_F(Probing, HostThatStartsLateIsFoundAndOneThatStopsNeedsTwoFailures) {
    ProbeTimings t = fast();
    t.recheck = 500ms;
    t.withdrawSilent = 1500ms;
    start(probing(t));
    int h = host(HostBehaviour::Silent);
    announce(h);
    ASSERT_TRUE(pollUntil([&] { return hosts_.requests(h).size() >= 4; }));  // two checks in vain
    hosts_.set(h, HostBehaviour::Answer);
    ASSERT_TRUE(becomes(h, CheckState::Answering));
    std::uint64_t failedBefore = counters().failedUdp47624.load();
    hosts_.set(h, HostBehaviour::Silent);
    ASSERT_TRUE(pollUntil([&] { return counters().failedUdp47624.load() > failedBefore; }));
    EXPECT_EQ(check(h).state, CheckState::Answering);  // one failure since it answered
    ASSERT_TRUE(becomes(h, CheckState::NotReachable));
    // --withdraw-silent: gone from the list, as if withdrawn.
    ASSERT_TRUE(pollUntil([&] { return raceList("NFS4").find(std::to_string(hosts_.ip(h))) == std::string::npos; }));
    EXPECT_EQ(counters().withdrawnSilent.load(), 1u);
}

TEST_F(Probing, SendsOnlyToAllowedAddressesThatAnnounced) {
    start(probing());
    int asked = host(), bystander = host(), reserved = host(), off = host();
    lobby::LobbyConfig notAllowed = probing(), probeOff = probing();
    notAllowed.probe.allowed.clear();
    notAllowed.dbPath = dir_.file("b.db");
    probeOff.probe.enabled = false;
    probeOff.dbPath = dir_.file("c.db");
    RunningLobby b(notAllowed), c(probeOff);
    announce(reserved, 0, b.port);
    announce(off, 0, c.port);
    announce(asked);
    ASSERT_TRUE(becomes(asked, CheckState::Answering));
    EXPECT_TRUE(hosts_.requests(bystander).empty());
    EXPECT_TRUE(hosts_.requests(reserved).empty());
    EXPECT_TRUE(hosts_.requests(off).empty());
    EXPECT_EQ(b.server.probeCounters().refusedByRange.load(), 1u);
    EXPECT_EQ(b.server.checks().of(0, hosts_.ip(reserved)).state, CheckState::NotChecked);
}

// 2,000 announcements from 200 silent hosts: the in-flight cap holds, and no address gets more
// than its datagrams' worth.
TEST_F(Probing, FloodOfAnnouncementsStaysWithinTheBounds) {
    ProbeTimings t = fast();
    t.maxInFlight = 64;
    t.addressGap = 200ms;
    t.retry = 200ms;
    t.firstWindow = 2s;
    t.replyWindow = 300ms;
    start(probing(t));
    std::vector<int> silent;
    for (int i = 0; i < 200; ++i) silent.push_back(host(HostBehaviour::Silent));
    const auto begun = std::chrono::steady_clock::now();
    for (int i = 0; i < 2000; ++i) announce(silent[static_cast<std::size_t>(i % 200)], (i / 200) % 2);
    std::uint64_t most = 0;
    ASSERT_TRUE(pollUntil([&] {
        most = std::max<std::uint64_t>(most, counters().inFlight.load());
        return counters().sent.load() >= 1000;
    }, 40s));
    const auto ended = std::chrono::steady_clock::now();
    EXPECT_LE(most, 64u);
    EXPECT_GT(most, 1u);
    for (int h : silent) {
        auto times = hosts_.requests(h);
        ASSERT_FALSE(times.empty());
        for (std::size_t i = 0; i < times.size(); ++i) {
            auto window = std::count_if(times.begin() + static_cast<long>(i), times.end(),
                                        [&](auto when) { return when - times[i] < t.addressGap * 9 / 10; });
            EXPECT_LE(window, 3) << hosts_.address(h);
        }
        EXPECT_LE(static_cast<double>(times.size()), 3 + (ended - begun) / t.addressGap + 1)
            << hosts_.address(h);
    }
}

}  // namespace
