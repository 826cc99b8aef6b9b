#pragma once
// The lobby: the HTTP endpoint /server/server.php that the client talks to, and the
// website at /. Races live in a RaceStore; each game's list is kept ready as wire text.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "block_list.h"
#include "client_builds.h"
#include "downloads.h"
#include "http_server.h"
#include "race_store.h"

namespace lobby {

struct LobbyConfig {
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: any free port
    std::string dbPath = "kestrun-lobby.db";
    std::int64_t raceTtlSeconds = 60 * 60;
    std::size_t maxRaces = 1000;  // per game
    int rateLimit = 120;          // requests per address per minute; 0: none
    std::size_t maxQuery = 512;   // bytes of the raw query string
    int threads = 0;              // I/O threads; 0: one per core
    std::size_t maxConnections = 20000;
    std::size_t maxPerAddress = 64;  // open connections per address (IPv6: per /64)
    std::chrono::milliseconds headTimeout{10000};  // for a whole request head
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
    // How often the database is checked for changes made by another process.
    std::chrono::milliseconds changePoll{2000};
    // Seconds since 1970 UTC; the system clock when empty.
    std::function<std::int64_t()> clock;
    bool stopOnSignals = false;  // SIGINT and SIGTERM stop run()
    // Receives one line (without LF) per request, from any thread; no access log when empty.
    std::function<void(const std::string&)> accessLog;
};

class BindError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LobbyServer {
public:
    // Opens the database, the block list and the downloads folder; throws StoreError,
    // BlockListError or DownloadsError if it can't.
    explicit LobbyServer(LobbyConfig config);
    ~LobbyServer();
    LobbyServer(const LobbyServer&) = delete;
    LobbyServer& operator=(const LobbyServer&) = delete;

    // Binds and listens; gives the port. Throws BindError.
    int bind();
    // Serves on the bound socket until stop(). Call once.
    void run();
    // From any thread, also before run() has started.
    void stop();
    bool isRunning() const;

    RaceStore& store();
    // Reads the block list file again and applies it, also to the races already listed.
    // Throws BlockListError and keeps the previous list. SIGHUP does this when signals are on.
    void reloadBlockList();
    // Open connections and refusals by reason, as the HTTP layer counts them.
    const HttpCounters& httpCounters() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lobby
