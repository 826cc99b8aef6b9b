// The prober: DirectPlay's messages against the protocol document, the ranges it will not ask,
// its schedule on a clock the test moves, and the whole of it on loopback against stand-in hosts.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

#include "lobby_fixture.h"
#include "probe/dplay.h"
#include "probe/ranges.h"
#include "probe/schedule.h"
#include "stand_in_host.h"
#include "wire/text_rules.h"

namespace {

using namespace lobby;
using namespace std::chrono_literals;

std::string fromHex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

// MC-DPL4CS section 4.1, DirectPlay4EnumSessionsRequest. The section gives the sample's parsed
// fields and values rather than a dump: here they are laid out as 2.2.6 (DPSP_MSG_HEADER) and
// 2.2.29 (DPSP_MSG_ENUMSESSIONS) place them.
const std::string kSampleRequest = fromHex(
    "4600b0fa" "020008fc00000000" "0000000000000000"  // size 70, token 0xFAB; family 2, port 2300, 0.0.0.0
    "706c6179" "0200" "0e00"                          // "play", command 2, version 14
    "0ba552a0e0ff11cf9c4e00a0c905425e"                // {A052A50B-FFE0-CF11-9C4E-00A0C905425E}
    "20000000" "02000000"                             // password offset 32, flags 0x2 (all)
    "500061007300730077006f0072006400" "0000");       // "Password"

TEST(DirectPlay, RequestHasTheSamplesLayout) {
    auto guid = dplay::parseGuid("{A052A50B-FFE0-CF11-9C4E-00A0C905425E}");
    ASSERT_TRUE(guid);
    EXPECT_EQ(dplay::enumSessions(2300, *guid, dplay::kEnumAll, u"Password"), kSampleRequest);
    // What the prober sends: 52 bytes, null application, all sessions, password-protected too.
    EXPECT_EQ(dplay::enumSessions(2300, dplay::Guid{}), fromHex("3400b0fa") + kSampleRequest.substr(4, 24) +
                                                            std::string(16, '\0') + fromHex("0000000042000000"));
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
    for (auto [address, probed] : {std::pair{"8.8.8.8", true}, {"100.63.255.255", true}, {"100.64.0.1", false},
                   {"127.0.0.5", false}, {"10.1.2.3", false}, {"172.31.0.1", false},
                   {"172.32.0.1", true}, {"192.168.0.1", false}, {"169.254.1.1", false},
                   {"192.0.2.1", false}, {"198.51.100.9", false}, {"203.0.113.9", false},
                   {"198.19.0.1", false}, {"224.0.0.1", false}, {"255.255.255.255", false},
                   {"0.1.2.3", false}}) {
        auto single = parseCidr(address);
        ASSERT_TRUE(single) << address;
        EXPECT_EQ(mayProbe(single->base, {}), probed) << address;
    }
    EXPECT_TRUE(mayProbe(0x7f000105, {Cidr{0x7f000000, 8}}));
    for (const char* bad : {"127.0.0.1/8", "127.0.0.0/33", "127.0.0.0/", "1.2.3", "::1/128"})
        EXPECT_FALSE(parseCidr(bad)) << bad;
}

class Schedule : public ::testing::Test {
protected:
    ProbeSchedule::Time at(std::chrono::milliseconds offset) const { return ProbeSchedule::Time{} + 1h + offset; }
    // Begins what is due at `when` and ends each check as `failed` says.
    std::vector<ProbeSchedule::Start> run(std::chrono::milliseconds when, FailedStep failed) {
        auto starts = s.due(at(when), 0);
        for (const auto& start : starts) s.finished(start, {failed, 2300, {}}, at(when), 0);
        return starts;
    }
    ProbeSchedule s{{.maxInFlight = 4}, {3600}};
};

TEST_F(Schedule, ChecksWaitTheirTurnOldestFirstAndOnePerAddress) {
    for (std::uint32_t ip = 1; ip <= 6; ++ip) s.announced(0, ip, 0, at(0ms));
    s.announced(1, 1, 0, at(0ms));  // the same address in the other game
    auto first = s.due(at(0ms), 0);
    ASSERT_EQ(first.size(), 4u);
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(first[i].ip, i + 1);
    EXPECT_TRUE(s.due(at(10ms), 0).empty());
    s.finished(first[0], {FailedStep::None, 1, {}}, at(20ms), 0);
    auto next = s.due(at(30ms), 0);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].ip, 5u);  // address 1's other race waits for its 5 s
    EXPECT_EQ(s.inFlight(), 4u);
}

TEST_F(Schedule, NeverAnsweredIsNotReachableAfterItsFirstMinutes) {
    s.announced(0, 3, 0, at(0ms));
    int checks = 0;
    for (auto t = 0ms; t <= 240s; t += 1s) checks += static_cast<int>(run(t, FailedStep::Udp47624).size());
    EXPECT_EQ(checks, 13 + 1);  // every 15 s for 3 minutes, then every 60 s
    EXPECT_EQ(s.of(0, 3).state, CheckState::NotReachable);
    EXPECT_EQ(s.of(0, 3).failedStep, FailedStep::Udp47624);
}

TEST_F(Schedule, CheckAgainOncePer10SecondsAndOnlyForRacesStillListed) {
    EXPECT_FALSE(s.checkAgain(5, 100));
    s.announced(0, 5, 0, at(0ms));
    run(0ms, FailedStep::None);
    EXPECT_TRUE(s.checkAgain(5, 100));
    EXPECT_FALSE(s.checkAgain(5, 109));
    EXPECT_EQ(run(6s, FailedStep::None).size(), 1u);  // not waiting for its 60 s
    EXPECT_TRUE(s.checkAgain(5, 110));
    s.withdrawn(0, 5);
    EXPECT_FALSE(s.checkAgain(5, 200));
    EXPECT_EQ(s.of(0, 5).state, CheckState::NotChecked);
    s.announced(0, 6, 0, at(0ms));  // then removed by another process: expires unreported
    EXPECT_TRUE(s.due(at(1s), 3600).empty());
    EXPECT_EQ(s.of(0, 6).state, CheckState::NotChecked);
}

// End to end on loopback: the lobby in this process, hosts on 127.R.x.y, timings shrunk.
class Probing : public LobbyTest {
protected:
    static ProbeTimings fast() {
        return {.retry = 150ms, .firstWindow = 1s, .recheck = 300ms, .replyWindow = 400ms,
                .connectTimeout = 300ms, .resend = 100ms, .addressGap = 100ms};
    }
    lobby::LobbyConfig probing(ProbeTimings t = fast()) {
        lobby::LobbyConfig c = config();
        c.probe = {true, {*parseCidr("127.0.0.0/8")}, "127.0.0.1", 0, {}, t};
        return c;
    }
    int host(HostBehaviour behaviour = HostBehaviour::Answer, StandInSession session = {}) {
        int h = hosts_.add(next_);
        next_ = hosts_.ip(h) + 1;
        hosts_.set(h, behaviour, std::move(session));
        return h;
    }
    void announce(int h, int game = 0, int to = 0) {
        std::string query = raceAddQuery(std::string(kGames[game].id), "Race", std::to_string(hosts_.ip(h)));
        EXPECT_EQ(httpGet(to ? to : port(), "/server/server.php?" + query, formatIp(hosts_.ip(h))).body, "OK\n");
    }
    Check check(int h, int game = 0) { return lobby_->server.checks().of(game, hosts_.ip(h)); }
    const ProbeCounters& counters() { return lobby_->server.probeCounters(); }
    bool becomes(int h, CheckState state) { return pollUntil([&] { return check(h).state == state; }, 10s); }

    StandInHosts hosts_{1s};
    std::uint32_t next_ = randomLoopbackBlock();
};

// Answered with the session's details; nothing sent where it may not be: to an address that
// did not announce, without --probe-allow for loopback, with --probe off.
TEST_F(Probing, AnsweringHostShowsItsSessionAndOnlyAllowedAnnouncersAreAsked) {
    start(probing());
    int h = host(HostBehaviour::Answer, {"Sunday race", 3, 8, true});
    int bystander = host(), reserved = host(), off = host();
    lobby::LobbyConfig notAllowed = probing(), probeOff = probing();
    notAllowed.probe.allowed.clear();
    notAllowed.dbPath = dir_.file("b.db");
    probeOff.probe.enabled = false;
    probeOff.dbPath = dir_.file("c.db");
    RunningLobby b(notAllowed), c(probeOff);
    announce(reserved, 0, b.port);
    announce(off, 0, c.port);
    announce(h);
    ASSERT_TRUE(becomes(h, CheckState::Answering));
    Check got = check(h);
    EXPECT_EQ(got.session, "Sunday race");
    EXPECT_EQ(std::pair(got.players, got.maxPlayers), std::pair(3, 8));
    EXPECT_TRUE(got.password);
    EXPECT_EQ(got.gamePort, hosts_.gamePort(h));
    EXPECT_EQ(got.checked, kStart);
    for (int silent : {bystander, reserved, off}) EXPECT_TRUE(hosts_.requests(silent).empty());
    EXPECT_EQ(b.server.probeCounters().refusedByRange.load(), 1u);
    // The site tells what the prober found, and with probing off that nothing was checked.
    const auto seen = nlohmann::json::parse(httpGet(port(), "/races.json").body), unseen =
        nlohmann::json::parse(httpGet(c.port, "/races.json").body);
    EXPECT_EQ(seen["races"]["NFS4"][0]["check"]["session"], "Sunday race");
    EXPECT_EQ(unseen["races"]["NFS4"][0]["check"]["state"], "not_checked");
    EXPECT_NE(httpGet(port(), "/check", formatIp(hosts_.ip(h))).body.find("Players can reach this race"),
              std::string::npos);
}

// Each check ends not reachable at once, and the next is seconds away: a late reply meets no
// pending check.
TEST_F(Probing, EachFailedStepIsNamedAndRepliesNotTheHostsOwnInTimeAreIgnored) {
    ProbeTimings t = fast();
    t.firstWindow = 300ms;
    t.recheck = 5s;
    start(probing(t));
    const ProbeCounters& n = counters();
    using Case = std::tuple<HostBehaviour, FailedStep, const std::atomic<std::uint64_t>*>;
    for (auto [behaviour, step, counter] : {Case{HostBehaviour::Silent, FailedStep::Udp47624, &n.failedUdp47624},
                                            {HostBehaviour::GamePortClosed, FailedStep::GamePort, &n.failedGamePort},
                                            {HostBehaviour::Garbage, FailedStep::Udp47624, &n.badReplies},
                                            {HostBehaviour::Oversized, FailedStep::Udp47624, &n.badReplies},
                                            {HostBehaviour::FromElsewhere, FailedStep::Udp47624, &n.strangerReplies},
                                            {HostBehaviour::Late, FailedStep::Udp47624, &n.strangerReplies}}) {
        std::uint64_t before = counter->load();
        int h = host(behaviour);
        announce(h, 1);
        ASSERT_TRUE(pollUntil([&] { return check(h, 1).state == CheckState::NotReachable; }, 10s));
        EXPECT_EQ(check(h, 1).failedStep, step) << static_cast<int>(behaviour);
        EXPECT_EQ(check(h, 1).gamePort, step == FailedStep::GamePort ? hosts_.gamePort(h) : 0);
        EXPECT_TRUE(pollUntil([&, counter = counter] { return counter->load() > before; }, 5s)) << static_cast<int>(behaviour);
    }
}

TEST_F(Probing, HostThatStartsLateIsFoundAndOneThatStopsNeedsTwoFailures) {
    ProbeTimings t = fast();
    t.recheck = 500ms;
    t.withdrawSilent = 1500ms;
    start(probing(t));
    int h = host(HostBehaviour::Silent);
    announce(h);
    ASSERT_TRUE(pollUntil([&] { return hosts_.requests(h).size() >= 4; }));  // asked in vain twice
    hosts_.set(h, HostBehaviour::Answer);
    ASSERT_TRUE(becomes(h, CheckState::Answering));
    std::uint64_t failedBefore = counters().failedUdp47624.load();
    hosts_.set(h, HostBehaviour::Silent);
    ASSERT_TRUE(pollUntil([&] { return counters().failedUdp47624.load() > failedBefore; }));
    EXPECT_EQ(check(h).state, CheckState::Answering);  // one failure since it answered
    ASSERT_TRUE(becomes(h, CheckState::NotReachable));
    ASSERT_TRUE(pollUntil([&] { return raceList("NFS4").find(std::to_string(hosts_.ip(h))) == std::string::npos; }));
    EXPECT_EQ(counters().withdrawnSilent.load(), 1u);  // --withdraw-silent, as if withdrawn
}

// 2,000 announcements from 200 silent hosts: the in-flight cap holds, and no address gets more
// than three datagrams at once or one per gap on average, though asked again after 50 ms.
TEST_F(Probing, FloodOfAnnouncementsStaysWithinTheBounds) {
    ProbeTimings t{.retry = 50ms, .firstWindow = 2s, .recheck = 300ms, .replyWindow = 300ms,
                   .resend = 100ms, .addressGap = 200ms, .maxInFlight = 150};
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
    EXPECT_LE(most, 150u);
    EXPECT_GT(most, 1u);
    for (int h : silent) {
        auto times = hosts_.requests(h);
        ASSERT_FALSE(times.empty());
        // Four datagrams span at least one gap by design; half a gap leaves room for the
        // stand-in's own scheduling on a busy machine.
        for (auto first = times.begin(); first != times.end(); ++first)
            EXPECT_LE(std::count_if(first, times.end(), [&](auto when) { return when - *first < t.addressGap / 2; }), 3);
        EXPECT_LE(static_cast<double>(times.size()), 3 + (ended - begun) / t.addressGap + 1) << formatIp(hosts_.ip(h));
    }
}

}  // namespace
