#pragma once
// A lobby server running in this process on a free loopback port, with a fake clock and a
// temporary database, for the lobby's tests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "daemon/lobby_server.h"
#include "fake_clock.h"
#include "http_probe.h"
#include "lobby_queries.h"
#include "poll_until.h"

// Whether a body is one refusal line.
bool isRefusal(const std::string& body);

class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A database as release 1.0.0 left it (release-1.0.0.sql: three races, five history rows),
// with its user_version set to `schemaVersion`.
void writeRelease100Database(const std::string& path, int schemaVersion = 0);

class RunningLobby {
public:
    explicit RunningLobby(lobby::LobbyConfig config, lobby::Checks* checks = nullptr,
                          const lobby::ProbeCounters* probeCounters = nullptr);
    ~RunningLobby();
    lobby::LobbyServer server;
    int port = 0;

private:
    std::thread thread_;
};

inline const std::string kHome = loopbackDecimal(0, 1);  // 127.0.0.1
inline const std::string kT0 = std::to_string(kStart);

class LobbyTest : public ::testing::Test {
public:
    static constexpr std::int64_t kStart = ::kStart;

protected:

    // Loopback, port 0, a file database, no rate limit, a clock that moves only when told.
    lobby::LobbyConfig config();
    void start(lobby::LobbyConfig c, lobby::Checks* checks = nullptr,
               const lobby::ProbeCounters* probeCounters = nullptr);
    void start() { start(config()); }
    void restart() { lobby_.reset(); start(config()); }
    int port() const { return lobby_->port; }
    lobby::RaceStore& store() { return lobby_->server.store(); }

    // The body of a GET of the script with this query; expects status 200.
    std::string call(const std::string& query, const std::string& source = "127.0.0.1");
    std::string raceList(const std::string& game) { return call(raceListQuery(game)); }
    std::vector<std::string> accessLog();

    TempDir dir_;
    std::atomic<std::int64_t> now_{kStart};
    std::unique_ptr<RunningLobby> lobby_;

private:
    std::mutex logMutex_;
    std::vector<std::string> log_;
};
