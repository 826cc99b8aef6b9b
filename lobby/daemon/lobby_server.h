#pragma once
// The lobby: the client's protocol at /server/server.php and the site around it, over the
// HTTP layer, with the races in a RaceStore and one writer that changes them.
#include <functional>
#include <memory>
#include <string>

#include "daemon/config.h"
#include "http/http_server.h"
#include "probe/check.h"
#include "races/block_list.h"
#include "races/race_store.h"
#include "site/downloads.h"

namespace lobby {

class LobbyServer {
public:
    // Opens the database, the block list, the downloads folder and the webhooks' certificates;
    // throws StoreError, BlockListError, DownloadsError or NotifyError if it can't.
    // checks and probeCounters: a stand-in for the prober's, for what the website and /metrics
    // tell of each race's host (they outlive the server).
    explicit LobbyServer(LobbyConfig config, Checks* checks = nullptr,
                         const ProbeCounters* probeCounters = nullptr);
    ~LobbyServer();
    LobbyServer(const LobbyServer&) = delete;
    LobbyServer& operator=(const LobbyServer&) = delete;

    // Binds and listens; gives the port. Throws BindError.
    int bind();
    // A thread of the caller's, in the lobby's one list: started after the lobby's own, stopped
    // before them. Call before run().
    void addThread(std::string name, std::function<void()> run, std::function<void()> stop);
    // Starts every thread the lobby runs and serves on the bound socket until stop(); then
    // stops them, last started first. Call once.
    void run();
    // From any thread, also before run() has started.
    void stop();
    bool isRunning() const;

    RaceStore& store();
    // Reads the block list file again and applies it, also to the races already listed; on
    // the writer, and waits for it. Throws BlockListError and keeps the previous list. SIGHUP does this when signals are on.
    void reloadBlockList();
    // Open connections and refusals by reason, as the HTTP layer counts them.
    const HttpCounters& httpCounters() const;
    // What the prober found out about each race, and its totals.
    Checks& checks();
    const ProbeCounters& probeCounters() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lobby
