#include "lobby_fixture.h"

#include <sqlite3.h>

#include <cstdlib>

#include "read_file.h"

bool isRefusal(const std::string& body) {
    return body.rfind("ERROR\n", 0) == 0 && body.size() > 6 && body.back() == '\n' &&
           body.find('\n', 6) == body.size() - 1;
}

void writeRelease100Database(const std::string& path, int schemaVersion) {
    std::string script = readFile(KESTRUN_SOURCE_DIR "/tests/lobby/release-1.0.0.sql") +
                         "PRAGMA user_version = " + std::to_string(schemaVersion) + ";";
    sqlite3* db = nullptr;
    char* error = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, script.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
        ADD_FAILURE() << "release-1.0.0.sql: " << (error ? error : sqlite3_errmsg(db));
    sqlite3_free(error);
    sqlite3_close(db);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrun-lobby-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

RunningLobby::RunningLobby(lobby::LobbyConfig config, lobby::Checks* checks,
                           const lobby::ProbeCounters* probeCounters)
    : server(std::move(config), checks, probeCounters) {
    port = server.bind();
    thread_ = std::thread([this] { server.run(); });
    if (!pollUntil([this] { return server.isRunning(); }))
        ADD_FAILURE() << "lobby did not start";
}

RunningLobby::~RunningLobby() {
    server.stop();
    thread_.join();
}

lobby::LobbyConfig LobbyTest::config() {
    lobby::LobbyConfig c;
    c.host = "127.0.0.1";
    c.port = 0;
    c.dbPath = dir_.file("lobby.db");
    c.rateLimit = 0;
    c.threads = 4;
    c.sweepInterval = std::chrono::hours(1);
    c.changePoll = std::chrono::milliseconds(20);
    c.clock = [this] { return now_.load(); };
    c.accessLog = [this](const std::string& line) {
        std::lock_guard lock(logMutex_);
        log_.push_back(line);
    };
    return c;
}

void LobbyTest::start(lobby::LobbyConfig c, lobby::Checks* checks,
                      const lobby::ProbeCounters* probeCounters) {
    lobby_ = std::make_unique<RunningLobby>(std::move(c), checks, probeCounters);
}

std::string LobbyTest::call(const std::string& query, const std::string& source) {
    HttpReply reply = httpGet(port(), "/server/server.php?" + query, source);
    EXPECT_EQ(reply.status, 200) << query;
    return reply.body;
}

std::vector<std::string> LobbyTest::accessLog() {
    std::lock_guard lock(logMutex_);
    return log_;
}
