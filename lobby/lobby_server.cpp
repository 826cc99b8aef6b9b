#include "lobby_server.h"

#include <arpa/inet.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include "http_connection.h"
#include "rate_limiter.h"
#include "website.h"
#include "wire.h"

namespace lobby {
namespace {

constexpr std::array<std::string_view, 2> kGames = {"NFS4", "NFS5"};
constexpr const char* kScriptPath = "/server/server.php";

// Every refusal the player may see, one line each, shown by the client as it stands.
constexpr const char* kTooManyRequests =
    "Too many requests from your address. Please wait a minute and try again.";
constexpr const char* kTooLong = "The request is too long.";
constexpr const char* kUnreadable = "The lobby could not read this request.";
constexpr const char* kUnknownAction =
    "The lobby does not know this request. Is your Kestrun client up to date?";
constexpr const char* kUnknownGame = "The lobby keeps race lists for NFS4 and NFS5 only.";
constexpr const char* kNeedsIpv4 =
    "The lobby needs an IPv4 connection to know your address, and yours is IPv6.";
constexpr const char* kNoAddress = "The lobby could not tell your address.";
constexpr const char* kBadRaceData = "The lobby could not read the race data.";
constexpr const char* kBadName =
    "A race name must be 1 to 16 letters, digits, blanks, hyphens, underscores or "
    "apostrophes.";
constexpr const char* kInternal = "The lobby could not do this just now. Please try again later.";

std::string errorBody(std::string_view text) {
    return "ERROR\n" + std::string(text) + "\n";
}

int gameIndex(std::string_view game) {
    for (std::size_t i = 0; i < kGames.size(); ++i)
        if (kGames[i] == game) return static_cast<int>(i);
    return -1;
}

std::int64_t systemClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string utcNow() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

void reportProblem(const std::string& what) {
    std::fprintf(stderr, "kestrun-lobby: %s\n", what.c_str());
    std::fflush(stderr);
}

// The rate limit counts IPv6 clients per /64, the block one household usually gets.
std::string rateKey(const PeerAddress& client) {
    if (client.isIpv4) return client.text;
    in6_addr addr{};
    if (inet_pton(AF_INET6, client.text.c_str(), &addr) != 1) return client.text;
    std::memset(addr.s6_addr + 8, 0, 8);
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &addr, text, sizeof text);
    return std::string(text) + "/64";
}

// One game's races as the race list carries them, ready to be sent.
struct GameList {
    std::vector<Race> races;
    std::string lines;                                            // "name,ip,created\n" each
    std::int64_t expiresAt = std::numeric_limits<std::int64_t>::max();  // oldest race runs out
};

}  // namespace

struct LobbyServer::Impl {
    explicit Impl(LobbyConfig c)
        : config(std::move(c)), store(config.dbPath), limiter(config.rateLimit) {
        if (!config.clock) config.clock = systemClock;
        if (!config.trustedProxy.empty()) trustedProxy = parsePeerAddress(config.trustedProxy);
        refresh(config.clock());
        setUpHttp();
    }

    LobbyConfig config;
    RaceStore store;
    RateLimiter limiter;
    HttpServer http;
    std::optional<PeerAddress> trustedProxy;

    std::mutex listsMutex;  // guards lists; held only to copy a pointer
    std::array<std::shared_ptr<const GameList>, kGames.size()> lists;
    std::mutex changeMutex;  // one change of the store and its lists at a time

    std::atomic<bool> runActive{false};
    std::atomic<bool> runFinished{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> httpStopped{false};

    std::mutex sweepMutex;
    std::condition_variable sweepWake;
    bool sweepStop = false;

    void setUpHttp();
    std::optional<PeerAddress> clientOf(const httplib::Request& req) const;
    std::string answer(const httplib::Request& req, const PeerAddress& client);
    std::string raceList(int game);
    std::string addRace(int game, std::string_view data, const PeerAddress& client);
    std::string removeRace(int game, std::string_view data, const PeerAddress& client);
    std::string website();
    std::shared_ptr<const GameList> currentList(int game, std::int64_t now);
    void rebuildList(int game, std::int64_t now);
    void refresh(std::int64_t now);
    void sweepLoop();
    void logAccess(const httplib::Request& req, const httplib::Response& res) const;
};

void LobbyServer::Impl::setUpHttp() {
    http.new_task_queue = [n = config.threads] { return new httplib::ThreadPool(n); };
    http.set_socket_options(lobbySocketOptions);
    http.set_keep_alive_max_count(100);
    http.set_keep_alive_timeout(5);
    http.set_read_timeout(5);
    http.set_write_timeout(5);
    http.set_payload_max_length(4096);

    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        auto client = clientOf(req);
        const char* refusal = nullptr;
        int status = 200;
        if (!client) {
            refusal = kNoAddress;
            status = 400;
        } else if (!limiter.allow(rateKey(*client), config.clock())) {
            refusal = kTooManyRequests;
            status = 429;
        } else {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        // The client shows only bodies of status 200; elsewhere HTTP's own codes serve.
        if (req.path == kScriptPath) {
            res.set_content(errorBody(refusal), "text/plain");
        } else {
            res.status = status;
            res.set_content(std::string(refusal) + "\n", "text/plain");
        }
        return httplib::Server::HandlerResponse::Handled;
    });

    http.Get(R"(/server/server\.php)", [this](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(answer(req, *clientOf(req)), "text/plain");
    });

    http.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-cache");
        res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_content(website(), "text/html; charset=utf-8");
    });

    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            const char* text = res.status == 404   ? "Not found."
                               : res.status == 414 ? kTooLong
                               : res.status < 500  ? kUnreadable
                                                   : kInternal;
            res.set_content(errorBody(text), "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }));

    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                reportProblem(e.what());
            } catch (...) {
                reportProblem("unknown failure");
            }
            res.status = 200;
            res.set_content(errorBody(kInternal), "text/plain");
        });

    if (config.accessLog)
        http.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            logAccess(req, res);
        });
}

std::optional<PeerAddress> LobbyServer::Impl::clientOf(const httplib::Request& req) const {
    auto peer = parsePeerAddress(req.remote_addr);
    if (!peer || !trustedProxy || peer->text != trustedProxy->text) return peer;
    // The trusted proxy's own entry is the last one of the last header line.
    std::size_t count = req.get_header_value_count(config.proxyHeader);
    if (count == 0) return std::nullopt;
    return parsePeerAddress(lastHeaderItem(req.get_header_value(config.proxyHeader, count - 1)));
}

std::string LobbyServer::Impl::answer(const httplib::Request& req, const PeerAddress& client) {
    std::string_view target = req.target;
    std::size_t mark = target.find('?');
    std::string_view rawQuery = mark == std::string_view::npos ? "" : target.substr(mark + 1);
    if (rawQuery.size() > config.maxQuery) return errorBody(kTooLong);
    auto query = parseQuery(rawQuery);
    if (!query) return errorBody(kUnreadable);

    const std::string action = query->action.value_or("");
    if (action == "getip") return client.isIpv4 ? "OK\n" + client.text + "\n" : errorBody(kNeedsIpv4);
    if (action != "racelist" && action != "raceadd" && action != "racerem")
        return errorBody(kUnknownAction);
    int game = gameIndex(query->game.value_or(""));
    if (game < 0) return errorBody(kUnknownGame);
    if (action == "racelist") return raceList(game);
    if (!client.isIpv4) return errorBody(kNeedsIpv4);
    if (action == "raceadd") return addRace(game, query->data.value_or(""), client);
    return removeRace(game, query->data.value_or(""), client);
}

std::string LobbyServer::Impl::raceList(int game) {
    std::int64_t now = config.clock();
    auto list = currentList(game, now);
    std::string body = "OK\n" + std::to_string(now) + "\n" + std::to_string(list->races.size()) + "\n";
    body += list->lines;
    return body;
}

std::string LobbyServer::Impl::addRace(int game, std::string_view data,
                                       const PeerAddress& client) {
    auto parsed = parseRaceAddData(data);
    if (!parsed) return errorBody(kBadRaceData);
    if (!isValidRaceName(parsed->name)) return errorBody(kBadName);
    std::string gameName(kGames[static_cast<std::size_t>(game)]);
    if (parsed->ip != client.ipv4)
        return errorBody("You can only announce a race for your own address, which the lobby "
                         "sees as " + client.text + ".");

    std::lock_guard lock(changeMutex);
    std::int64_t now = config.clock();
    AddOutcome outcome = store.add(gameName, Race{parsed->name, parsed->ip, now}, config.maxRaces);
    if (outcome == AddOutcome::Full)
        return errorBody("The " + gameName + " race list is full. Please try again later.");
    rebuildList(game, now);
    return "OK\n";
}

std::string LobbyServer::Impl::removeRace(int game, std::string_view data,
                                          const PeerAddress& client) {
    auto ip = parseRaceRemData(data);
    if (!ip) return errorBody(kBadRaceData);
    std::string gameName(kGames[static_cast<std::size_t>(game)]);
    if (*ip != client.ipv4)
        return errorBody("You can only withdraw a race of your own address, which the lobby "
                         "sees as " + client.text + ".");

    std::lock_guard lock(changeMutex);
    if (!store.remove(gameName, *ip))
        return errorBody("You have no race in the " + gameName + " race list.");
    rebuildList(game, config.clock());
    return "OK\n";
}

std::string LobbyServer::Impl::website() {
    std::int64_t now = config.clock();
    std::vector<GameRaces> games;
    for (std::size_t i = 0; i < kGames.size(); ++i)
        games.push_back(GameRaces{std::string(kGames[i]), currentList(static_cast<int>(i), now)->races});
    return renderWebsite(games, now, config.clientUrl);
}

std::shared_ptr<const GameList> LobbyServer::Impl::currentList(int game, std::int64_t now) {
    auto index = static_cast<std::size_t>(game);
    {
        std::lock_guard lock(listsMutex);
        if (now < lists[index]->expiresAt) return lists[index];
    }
    refresh(now);
    std::lock_guard lock(listsMutex);
    return lists[index];
}

void LobbyServer::Impl::rebuildList(int game, std::int64_t now) {
    auto index = static_cast<std::size_t>(game);
    auto list = std::make_shared<GameList>();
    list->races = store.list(kGames[index], now - config.raceTtlSeconds);
    for (const Race& race : list->races) {
        list->lines += race.name + ',' + std::to_string(race.ip) + ',' +
                       std::to_string(race.created) + '\n';
        list->expiresAt = std::min(list->expiresAt, race.created + config.raceTtlSeconds);
    }
    std::lock_guard lock(listsMutex);
    lists[index] = std::move(list);
}

void LobbyServer::Impl::refresh(std::int64_t now) {
    std::lock_guard lock(changeMutex);
    store.sweep(now - config.raceTtlSeconds);
    // Rebuilding also picks up races written by another process, such as `seed`.
    for (std::size_t i = 0; i < kGames.size(); ++i) rebuildList(static_cast<int>(i), now);
}

void LobbyServer::Impl::sweepLoop() {
    std::unique_lock lock(sweepMutex);
    while (!sweepWake.wait_for(lock, config.sweepInterval, [this] { return sweepStop; })) {
        lock.unlock();
        try {
            std::int64_t now = config.clock();
            refresh(now);
            limiter.prune(now);
        } catch (const std::exception& e) {
            reportProblem(std::string("sweep failed: ") + e.what());
        }
        lock.lock();
    }
}

void LobbyServer::Impl::logAccess(const httplib::Request& req,
                                  const httplib::Response& res) const {
    auto client = clientOf(req);
    std::string outcome = "-";
    if (req.path == kScriptPath) {
        std::size_t end = res.body.find('\n');
        outcome = res.body.substr(0, end);
        if (outcome == "ERROR" && end != std::string::npos)
            outcome += ": " + res.body.substr(end + 1, res.body.find('\n', end + 1) - end - 1);
    }
    config.accessLog(utcNow() + ' ' + (client ? client->text : "-") +
                     " \"" + escapeForLog(req.method, 16) + ' ' + escapeForLog(req.target, 200) +
                     "\" " + std::to_string(res.status) + ' ' + std::to_string(res.body.size()) +
                     " \"" + escapeForLog(outcome, 120) + '"');
}

LobbyServer::LobbyServer(LobbyConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

LobbyServer::~LobbyServer() {
    stop();
    if (!impl_->runActive) impl_->http.closeUnusedSocket();
}

int LobbyServer::bind() {
    errno = 0;
    const std::string& host = impl_->config.host;
    int port = impl_->config.port == 0 ? impl_->http.bind_to_any_port(host)
               : impl_->http.bind_to_port(host, impl_->config.port) ? impl_->config.port
                                                                      : -1;
    if (port < 0) {
        std::string reason = errno ? std::strerror(errno) : "cannot bind";
        throw BindError(reason);
    }
    return port;
}

void LobbyServer::run() {
    Impl& d = *impl_;
    d.runActive = true;
    if (!d.stopRequested) {
        std::thread sweeper([&d] { d.sweepLoop(); });
        d.http.listen_after_bind();
        {
            std::lock_guard lock(d.sweepMutex);
            d.sweepStop = true;
        }
        d.sweepWake.notify_all();
        sweeper.join();
    }
    d.runFinished = true;
}

void LobbyServer::stop() {
    Impl& d = *impl_;
    d.stopRequested = true;
    if (!d.runActive) return;
    // run() may be between its start and httplib's; wait for httplib to be up first.
    while (!d.runFinished && !d.http.is_running()) std::this_thread::yield();
    if (d.http.is_running() && !d.httpStopped.exchange(true)) d.http.stop();
}

bool LobbyServer::isRunning() const { return impl_->http.is_running(); }

RaceStore& LobbyServer::store() { return impl_->store; }

}  // namespace lobby
