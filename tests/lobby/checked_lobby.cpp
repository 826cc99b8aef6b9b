// The real lobby with a stand-in prober (stand_in_checks.h) for the browser test: one NFS4
// race from each of 127.0.0.2 to .6, and X-Forwarded-For from loopback believed, so that a
// browser can visit as each host. Says "kestrun-lobby listening on 127.0.0.1:PORT" as the
// daemon does, and stops on SIGTERM.
//   checked_lobby DATABASE
#include <cstdio>
#include <ctime>
#include <thread>

#include "daemon/lobby_server.h"
#include "http_probe.h"
#include "lobby_queries.h"
#include "poll_until.h"
#include "stand_in_checks.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    StandInChecks checks(std::time(nullptr));
    lobby::ProbeCounters counters;
    lobby::LobbyConfig config;
    config.dbPath = argv[1];
    config.port = 0;
    config.rateLimit = 0;
    config.trustedProxy = "127.0.0.1";
    config.stopOnSignals = true;
    config.probe.enabled = false;  // the stand-in tells the site instead
    lobby::LobbyServer server(config, &checks, &counters);
    const int port = server.bind();
    std::thread serving([&] { server.run(); });
    bool announced = true;
    pollUntil([&] { return server.isRunning(); });
    for (int host = 2; host <= 6; ++host) {
        const std::string n = std::to_string(host);
        HttpReply added = httpGet(port, "/server/server.php?action=raceadd&game=NFS4&data=name:Host" + n +
                                            ";ip:" + loopbackDecimal(0, host),
                                  "127.0.0.1", "X-Forwarded-For: 127.0.0." + n + "\r\n");
        if (added.body != "OK\n") {
            std::fprintf(stderr, "race from 127.0.0.%d not announced: %s\n", host, added.body.c_str());
            announced = false;
            server.stop();
            break;
        }
    }
    if (announced) std::fprintf(stderr, "kestrun-lobby listening on 127.0.0.1:%d\n", port);
    serving.join();
    return announced ? 0 : 1;
}
