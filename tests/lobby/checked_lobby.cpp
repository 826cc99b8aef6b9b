// The real lobby with a stand-in prober, for the browser test: races of NFS4 from 127.0.0.2
// (answering, password), .3 (checking), .4 (no answer on UDP 47624), .5 (game port closed)
// and .6 (not checked), with X-Forwarded-For from loopback believed, so that a browser can
// visit as each host. Says "kestrun-lobby listening on 127.0.0.1:PORT" as the daemon does,
// and stops on SIGTERM.
//   checked_lobby DATABASE
#include <cstdio>
#include <ctime>
#include <thread>

#include "daemon/lobby_server.h"
#include "http_probe.h"
#include "poll_until.h"
#include "stand_in_checks.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::int64_t now = std::time(nullptr);
    StandInChecks checks;
    lobby::ProbeCounters counters;
    checks.set(0x7F000002, answering(3, 8, true, now - 70));
    lobby::Check checking;
    checking.state = lobby::CheckState::Checking;
    checks.set(0x7F000003, checking);
    checks.set(0x7F000004, notReachable(lobby::FailedStep::Udp47624, now - 20));
    checks.set(0x7F000005, notReachable(lobby::FailedStep::GamePort, now - 20));
    lobby::LobbyConfig config;
    config.dbPath = argv[1];
    config.port = 0;
    config.rateLimit = 0;
    config.trustedProxy = "127.0.0.1";
    config.stopOnSignals = true;
    lobby::LobbyServer server(config, &checks, &counters);
    const int port = server.bind();
    std::thread serving([&] { server.run(); });
    pollUntil([&] { return server.isRunning(); });
    for (int host = 2; host <= 6; ++host) {
        const std::string from = "127.0.0." + std::to_string(host);
        HttpReply added = httpGet(port, "/server/server.php?action=raceadd&game=NFS4&data=name:Host" +
                                            std::to_string(host) + ";ip:" + loopbackDecimal(0, host),
                                  "127.0.0.1", "X-Forwarded-For: " + from + "\r\n");
        if (added.body != "OK\n") {
            std::fprintf(stderr, "race from %s not announced: %s\n", from.c_str(), added.body.c_str());
            server.stop();
            serving.join();
            return 1;
        }
    }
    std::fprintf(stderr, "kestrun-lobby listening on 127.0.0.1:%d\n", port);
    serving.join();
    return 0;
}
