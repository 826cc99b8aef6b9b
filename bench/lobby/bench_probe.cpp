// Figures for the prober, on loopback only: raceadd answer times with probing on and off in
// the same run, checks per second, memory per pending check, and the time from a host's
// answer to "answering". Run: flock /tmp/kestrun-heavy.lock bench/lobby/probe.sh
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lobby_fixture.h"
#include "probe/prober.h"
#include "probe/schedule.h"
#include "stand_in_host.h"
#include "wire/text_rules.h"

namespace {

using namespace lobby;
using namespace std::chrono;
using namespace std::chrono_literals;

double millis(steady_clock::duration d) { return duration<double, std::milli>(d).count(); }

std::string spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    char text[96];
    std::snprintf(text, sizeof text, "p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu)", v[v.size() / 2],
                  v[v.size() * 99 / 100], v.back(), v.size());
    return text;
}

long rssKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key)
        if (key == "VmRSS:" && status >> value) return value;
    return 0;
}

// 127.B.x.y for i = 0, 1, ...: never .0 or .255.
std::uint32_t address(std::uint32_t block, int i) {
    return block | static_cast<std::uint32_t>(i / 250) << 8 | static_cast<std::uint32_t>(i % 250 + 1);
}

LobbyConfig lobbyConfig(const TempDir& dir, const std::string& name, bool probe) {
    LobbyConfig c;
    c.port = 0;
    c.dbPath = dir.file(name);
    c.rateLimit = 0;
    c.maxRaces = 100000;
    c.probe.enabled = probe;
    c.probe.allowed = {*parseCidr("127.0.0.0/8")};
    c.probe.listenHost = "127.0.0.1";
    c.probe.listenPort = 0;
    return c;
}

double announce(int port, std::uint32_t ip, int game) {
    auto start = steady_clock::now();
    ::HttpReply reply = httpGet(port, "/server/server.php?" + raceAddQuery(std::string(kGames[game].id), "Bench",
                                                                        std::to_string(ip)),
                              formatIp(ip));
    if (reply.body.rfind("OK", 0) != 0) std::fprintf(stderr, "raceadd refused: %s\n", reply.body.c_str());
    return millis(steady_clock::now() - start);
}

}  // namespace

int main() {
    TempDir dir;
    const std::uint32_t block = randomLoopbackBlock() & 0xffff0000u;

    {  // raceadd with probing on and off, requests interleaved so both meet the same noise
        RunningLobby on(lobbyConfig(dir, "on.db", true)), off(lobbyConfig(dir, "off.db", false));
        std::vector<double> withProbe, without;
        for (int i = 0; i < 4000; ++i) {
            std::uint32_t ip = address(block, i % 2000);
            withProbe.push_back(announce(on.port, ip, i / 2000));
            without.push_back(announce(off.port, ip, i / 2000));
        }
        std::printf("raceadd, 4,000 from 2,000 silent hosts, probing on:  %s; checks begun %llu\n",
                    spread(withProbe).c_str(),
                    static_cast<unsigned long long>(on.server.probeCounters().sent.load()));
        std::printf("raceadd, same run, probing off:                     %s\n", spread(without).c_str());
    }

    {  // the machinery's rate: answering hosts, every wait shrunk to a millisecond
        StandInHosts hosts;
        LobbyConfig c = lobbyConfig(dir, "rate.db", true);
        c.probe.timings.retry = c.probe.timings.recheck = c.probe.timings.addressGap = 1ms;
        RunningLobby lobby(c);
        std::uint32_t next = (block ^ 0x00800000u) | 1;
        for (int i = 0; i < 200; ++i) {
            int h = hosts.add(next);
            next = hosts.ip(h) + 1;
            announce(lobby.port, hosts.ip(h), 0);
            announce(lobby.port, hosts.ip(h), 1);
        }
        const ProbeCounters& n = lobby.server.probeCounters();
        std::uint64_t before = n.answered.load();
        auto start = steady_clock::now();
        std::this_thread::sleep_for(10s);
        double seconds = duration<double>(steady_clock::now() - start).count();
        std::printf("checks answered per second, 200 answering hosts, waits 1 ms: %.0f "
                    "(each: datagram, reply over TCP, game-port connect); failed %llu\n",
                    static_cast<double>(n.answered.load() - before) / seconds,
                    static_cast<unsigned long long>(n.failedUdp47624.load() + n.failedGamePort.load()));
    }

    {  // time from a host's answer to "answering", default timings
        StandInHosts hosts;
        RunningLobby lobby(lobbyConfig(dir, "answer.db", true));
        std::uint32_t next = (block ^ 0x00400000u) | 1;
        std::vector<double> delays;
        for (int i = 0; i < 100; ++i) {
            int h = hosts.add(next);
            next = hosts.ip(h) + 1;
            announce(lobby.port, hosts.ip(h), 0);
            while (lobby.server.checks().of(0, hosts.ip(h)).state != CheckState::Answering)
                std::this_thread::sleep_for(100us);
            auto seen = steady_clock::now();
            delays.push_back(millis(seen - hosts.requests(h).front()));
        }
        std::printf("request reaching the host to \"answering\" (reply, parse, game-port connect): %s\n",
                    spread(delays).c_str());
    }

    {  // memory: 20,000 races' bookkeeping alone, then 20,000 checks pending at once
        constexpr int kRaces = 20000;
        ProbeConfig c = lobbyConfig(dir, "-", true).probe;
        c.timings.maxInFlight = kRaces;
        c.timings.replyWindow = 120s;
        std::uint32_t memoryBlock = (block ^ 0x00200000u);
        auto log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
        ProbeCounters counters;
        long start = rssKiB();
        ProbeSchedule known(c.timings, Expiry{3600});
        for (int i = 0; i < kRaces; ++i) known.announced(0, address(memoryBlock, i), 0, steady_clock::now());
        long bookkept = rssKiB();
        Prober prober(c, Expiry{3600}, [] { return std::int64_t{0}; }, counters, [](int, std::uint32_t) {}, log);
        std::thread probing([&prober] { prober.run(); });
        long started = rssKiB();
        for (int i = 0; i < kRaces; ++i) prober.announced(0, address(memoryBlock ^ 0x00100000u, i), 0);
        while (counters.inFlight.load() < static_cast<std::uint64_t>(kRaces)) std::this_thread::sleep_for(10ms);
        long pending = rssKiB();
        std::printf("memory: %.0f bytes a race known, %.0f bytes a race with its check pending "
                    "(RSS %ld KiB -> %ld -> %ld -> %ld KiB)\n",
                    1024.0 * static_cast<double>(bookkept - start) / kRaces,
                    1024.0 * static_cast<double>(pending - started) / kRaces, start, bookkept, started,
                    pending);
        prober.stop();
        probing.join();
    }
    return 0;
}
