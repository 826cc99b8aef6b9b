#pragma once
// What a lobby is told at start: the HTTP layer's limits and the lobby's own settings. A new
// option gets its field here and its parsing and help line in options.cpp.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "clients/client_builds.h"
#include "http/http_server.h"
#include "notify/notify.h"
#include "probe/probe_config.h"

namespace lobby {

// The lobby's one clock: seconds since 1970 UTC.
inline std::int64_t systemClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

struct LobbyConfig : HttpLimits {
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: any free port
    std::string dbPath = "kestrun-lobby.db";
    std::int64_t raceTtlSeconds = 60 * 60;
    std::int64_t historyDays = 90;  // how long the history keeps a race after it ended
    std::size_t maxRaces = 1000;  // per game
    int rateLimit = 120;          // requests per address per minute; 0: none
    std::size_t maxQuery = 512;   // bytes of the raw query string
    std::string trustedProxy;  // empty: no header is trusted
    std::string proxyHeader = "X-Forwarded-For";
    std::string clientUrl;
    std::chrono::milliseconds sweepInterval{30000};
    std::string blockListPath;  // empty: nothing is blocked
    enum class Metrics { Off, Loopback, On } metrics = Metrics::Loopback;  // who may read /metrics
    std::string downloadsDir;   // empty: nothing under /download/
    std::string publicUrl;      // empty: no clients for this lobby's address
    std::string clientsDir = kPackagedClientsDir;
    // Set by whoever made the clients for publicUrl: the folder that holds them, and their
    // names; served under /download/ after downloadsDir.
    std::string clientBuildsDir;
    std::vector<std::string> clientBuilds;
    std::vector<Webhook> notify;  // told of each newly announced race
    std::string notifyCa;         // certificates for them besides the system's; empty: none
    ProbeConfig probe;            // asking each race's host as a joining game would
    // How often the database is checked for changes made by another process.
    std::chrono::milliseconds changePoll{2000};
    // Seconds since 1970 UTC; tests set a fake one.
    std::function<std::int64_t()> clock = systemClock;
    // SIGINT and SIGTERM stop run(), SIGHUP reads the block list again.
    bool stopOnSignals = false;
    // Receives one line (without LF) per request, from any thread; no access log when empty.
    std::function<void(const std::string&)> accessLog;
};

}  // namespace lobby
