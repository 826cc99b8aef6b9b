#include "lobby_server.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include <csignal>

#include "feeds.h"
#include "http_server.h"
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
constexpr const char* kBlockedAddress = "Your address may not announce races in this lobby.";
constexpr const char* kBlockedName =
    "This race name is not allowed in this lobby. Please choose another name.";

std::string errorBody(std::string_view text) {
    return "ERROR\n" + std::string(text) + "\n";
}

int gameIndex(std::string_view game) {
    for (std::size_t i = 0; i < kGames.size(); ++i)
        if (kGames[i] == game) return static_cast<int>(i);
    return -1;
}

std::int64_t systemClock() { return static_cast<std::int64_t>(std::time(nullptr)); }


void reportProblem(const std::string& what) {
    std::fprintf(stderr, "kestrun-lobby: %s\n", what.c_str());
    std::fflush(stderr);
}

// One game's races as the race list carries them, ready to be sent.
struct GameList {
    std::vector<Race> races;
    std::string lines;                                            // "name,ip,created\n" each
    std::int64_t expiresAt = std::numeric_limits<std::int64_t>::max();  // oldest race runs out
};
using Lists = std::array<std::shared_ptr<const GameList>, kGames.size()>;  // one a game

// The store's writes, one at a time, on a thread of their own: a commit waits for the
// disk, and no I/O thread may wait with it.
class Writer {
public:
    void start() { thread_ = std::thread([this] { loop(); }); }
    void post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }
    // Finishes what is queued, then ends.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

// A request on its way through the lobby, with what its access-log line needs.
struct Call {
    PeerAddress client;
    std::string_view path;
    std::string_view rawQuery;
    std::string method, target;  // copied only when there is an access log
    HttpReply reply;
    Action action = Action::NotFound;
    std::optional<Refusal> refusal;
};

// What a change on the writer answers.
struct Outcome {
    std::string body;
    std::optional<Refusal> refusal;
};

bool isLoopback(const PeerAddress& client) {
    return client.isIpv4 ? (client.ipv4 >> 24) == 127 : client.text == "::1";
}

// The client builds the website links to, when the downloads folder has them.
constexpr std::pair<std::string_view, std::string_view> kClientDownloads[] = {
    {"kestrun-setup.exe", "Installer for Windows (64-bit)"},
    {"kestrun.exe", "Kestrun client for Windows (64-bit), one file, no installation"},
    {"kestrun-setup-x86.exe", "Installer for 32-bit Windows"},
    {"kestrun-x86.exe", "Kestrun client for 32-bit Windows, one file"},
    {"SHA256SUMS", "SHA-256 checksums of these files"},
};

}  // namespace

struct LobbyServer::Impl final : HttpHandler {
    explicit Impl(LobbyConfig c)
        : config(std::move(c)), store(config.dbPath), limiter(config.rateLimit),
          http(*this, limitsOf(config)) {
        if (!config.clock) config.clock = systemClock;
        if (!config.trustedProxy.empty()) trustedProxy = parsePeerAddress(config.trustedProxy);
        if (!config.blockListPath.empty())
            blockList = std::make_shared<const BlockList>(BlockList::load(config.blockListPath));
        if (!config.downloadsDir.empty()) downloads = std::make_unique<Downloads>(config.downloadsDir);
        dataVersion = store.dataVersion();
        refresh(config.clock());
        http.every(config.sweepInterval, [this] {
            if (!sweepQueued.exchange(true))
                writer.post([this] {
                    sweepQueued = false;
                    refresh(config.clock());
                });
        });
        // An admin command or `seed` writes through a connection of its own.
        http.every(config.changePoll, [this] {
            if (!pollQueued.exchange(true))
                writer.post([this] {
                    pollQueued = false;
                    std::int64_t version = store.dataVersion();
                    if (version == dataVersion) return;
                    dataVersion = version;
                    rebuildLists(config.clock());
                });
        });
        // Reload is run blindly by hosts and their tools: SIGHUP's default action would end
        // the process, which systemd takes for a clean stop and does not restart.
        if (config.stopOnSignals)
            http.onSignal(SIGHUP, [this] {
                writer.post([this] {
                    if (config.blockListPath.empty()) {
                        reportProblem("SIGHUP: no --block-list configured, nothing to re-read");
                        return;
                    }
                    try {
                        reloadBlockList();
                        reportProblem("block list " + config.blockListPath + " read again");
                    } catch (const BlockListError& e) {
                        reportProblem("block list " + config.blockListPath + " not changed: " +
                                      e.what());
                    }
                });
            });
    }

    LobbyConfig config;
    RaceStore store;
    RateLimiter limiter;
    std::optional<PeerAddress> trustedProxy;

    std::mutex listsMutex;  // guards lists and bodies; held only to copy pointers
    std::array<std::shared_ptr<const GameList>, kGames.size()> lists;
    struct CachedBody {
        std::int64_t at = 0;
        std::shared_ptr<const GameList> from;
        std::shared_ptr<const std::string> body;
    };
    std::array<CachedBody, kGames.size()> bodies;

    struct CachedJson {
        std::int64_t at = 0;
        Lists from;
        std::shared_ptr<const std::string> body;
    } json;  // guarded by listsMutex
    std::shared_ptr<const BlockList> blockList = std::make_shared<const BlockList>();  // listsMutex
    std::unique_ptr<Downloads> downloads;
    LobbyMetrics metrics;

    Writer writer;
    std::atomic<bool> sweepQueued{false};
    std::atomic<bool> pollQueued{false};
    std::int64_t dataVersion = 0;  // on the writer
    HttpServer http;  // last: it goes first, and with it every session

    static HttpLimits limitsOf(const LobbyConfig& c) {
        HttpLimits l;
        l.threads = c.threads;
        l.maxConnections = c.maxConnections;
        l.maxPerAddress = c.maxPerAddress;
        l.headTimeout = c.headTimeout;
        l.stopOnSignals = c.stopOnSignals;
        if (!c.trustedProxy.empty())
            if (auto key = addressKeyOf(c.trustedProxy)) l.uncapped.push_back(*key);
        return l;
    }

    void handle(const HttpRequest& req, HttpReply reply) override;
    HttpResponse refusal(int status) override {
        return HttpResponse::text(status, errorBody(status == 400 ? kUnreadable : kTooLong));
    }

    std::optional<PeerAddress> clientOf(const HttpRequest& req) const;
    void finish(Call& call, HttpResponse response);
    void notFound(Call& call);
    void finishScript(Call& call, std::shared_ptr<const std::string> body);
    void script(Call& call);
    void site(Call& call);
    void racesJson(Call& call);
    void metricsPage(Call& call);
    void download(Call& call);
    std::shared_ptr<const std::string> raceList(int game);
    Outcome addRace(int game, const RaceAddData& race);
    Outcome removeRace(int game, std::uint32_t ip);
    std::shared_ptr<const GameList> makeList(std::vector<Race> races) const;
    std::shared_ptr<const GameList> currentList(int game, std::int64_t now);
    Lists currentLists(std::int64_t now);
    static std::vector<GameRaces> gamesOf(const Lists& lists);
    std::shared_ptr<const BlockList> currentBlockList();
    void reloadBlockList();
    void rebuildList(int game, std::int64_t now);
    void rebuildLists(std::int64_t now);
    void refresh(std::int64_t now);
    void logAccess(const Call& call, const HttpResponse& res) const;
};

void LobbyServer::Impl::handle(const HttpRequest& req, HttpReply reply) {
    Call call;
    call.reply = std::move(reply);
    std::string_view target = req.target();
    std::size_t mark = target.find('?');
    call.path = target.substr(0, mark);
    call.rawQuery = mark == std::string_view::npos ? "" : target.substr(mark + 1);
    if (config.accessLog) {
        call.method = req.method();
        call.target = target;
    }

    if (call.path == kScriptPath) call.action = Action::Unknown;
    auto client = clientOf(req);
    const char* refusal = nullptr;
    int status = 200;
    if (!client) {
        refusal = kNoAddress;
        call.refusal = Refusal::NoAddress;
        status = 400;
    } else if (auto key = addressKeyOf(client->text); key && !limiter.allow(*key, config.clock())) {
        refusal = kTooManyRequests;
        call.refusal = Refusal::RateLimited;
        status = 429;
    }
    if (client) call.client = *client;
    if (refusal) {
        // The client shows only bodies of status 200; elsewhere HTTP's own codes serve.
        if (call.path == kScriptPath)
            return finish(call, HttpResponse::text(200, errorBody(refusal)));
        return finish(call, HttpResponse::text(status, std::string(refusal) + "\n"));
    }
    if (req.method() != "GET" && req.method() != "HEAD") {
        call.refusal = Refusal::Unreadable;
        HttpResponse res = HttpResponse::text(405, errorBody(kUnreadable));
        res.headers.emplace_back("Allow", "GET, HEAD");
        return finish(call, std::move(res));
    }
    using Route = void (Impl::*)(Call&);
    // Every path the lobby serves, matched exactly (the query aside).
    static constexpr std::pair<std::string_view, Route> kRoutes[] = {
        {kScriptPath, &Impl::script},
        {"/", &Impl::site},
        {"/races.json", &Impl::racesJson},
        {"/metrics", &Impl::metricsPage},
    };
    for (const auto& [path, route] : kRoutes)
        if (call.path == path) return (this->*route)(call);
    if (call.path.substr(0, 10) == "/download/") return download(call);
    notFound(call);
}

std::optional<PeerAddress> LobbyServer::Impl::clientOf(const HttpRequest& req) const {
    auto peer = parsePeerAddress(req.peer());
    if (!peer || !trustedProxy || peer->text != trustedProxy->text) return peer;
    // The trusted proxy's own entry is the last one of the last header line.
    auto values = req.headers(config.proxyHeader);
    if (values.empty()) return std::nullopt;
    return parsePeerAddress(lastHeaderItem(values.back()));
}

void LobbyServer::Impl::notFound(Call& call) {
    finish(call, HttpResponse::text(404, errorBody("Not found.")));
}

void LobbyServer::Impl::finish(Call& call, HttpResponse response) {
    bool ok = call.path == kScriptPath ? response.body->rfind("OK\n", 0) == 0 : response.status < 400;
    metrics.count(call.action, ok);
    if (call.refusal) metrics.count(*call.refusal);
    if (config.accessLog) logAccess(call, response);
    call.reply(std::move(response));
}

void LobbyServer::Impl::finishScript(Call& call, std::shared_ptr<const std::string> body) {
    HttpResponse res;
    res.headers.emplace_back("Cache-Control", "no-store");
    res.body = std::move(body);
    finish(call, std::move(res));
}

void LobbyServer::Impl::script(Call& call) {
    auto reply = [&](std::string body) {
        finishScript(call, std::make_shared<const std::string>(std::move(body)));
    };
    auto refuse = [&](Refusal reason, std::string_view text) {
        call.refusal = reason;
        reply(errorBody(text));
    };
    if (call.rawQuery.size() > config.maxQuery) return refuse(Refusal::TooLong, kTooLong);
    auto query = parseQuery(call.rawQuery);
    if (!query) return refuse(Refusal::Unreadable, kUnreadable);
    const PeerAddress& client = call.client;

    const std::string action = query->action.value_or("");
    static constexpr std::pair<std::string_view, Action> kActions[] = {
        {"getip", Action::Getip}, {"racelist", Action::Racelist},
        {"raceadd", Action::Raceadd}, {"racerem", Action::Racerem}};
    for (const auto& [name, value] : kActions)
        if (action == name) call.action = value;
    if (call.action == Action::Getip)
        return client.isIpv4 ? reply("OK\n" + client.text + "\n")
                             : refuse(Refusal::NeedsIpv4, kNeedsIpv4);
    if (call.action == Action::Unknown) return refuse(Refusal::UnknownAction, kUnknownAction);
    int game = gameIndex(query->game.value_or(""));
    if (game < 0) return refuse(Refusal::UnknownGame, kUnknownGame);
    if (call.action == Action::Racelist) return finishScript(call, raceList(game));
    if (!client.isIpv4) return refuse(Refusal::NeedsIpv4, kNeedsIpv4);

    // Everything but the write itself is checked here; the write goes to the writer, and
    // the answer leaves once it is committed.
    std::function<Outcome()> change;
    if (call.action == Action::Raceadd) {
        auto parsed = parseRaceAddData(query->data.value_or(""));
        if (!parsed) return refuse(Refusal::BadRaceData, kBadRaceData);
        if (!isValidRaceName(parsed->name)) return refuse(Refusal::BadName, kBadName);
        if (parsed->ip != client.ipv4)
            return refuse(Refusal::NotOwnAddress,
                          "You can only announce a race for your own address, which the lobby "
                          "sees as " + client.text + ".");
        auto blocks = currentBlockList();
        if (blocks->blocksAddress(client.ipv4))
            return refuse(Refusal::BlockedAddress, kBlockedAddress);
        if (blocks->blocksName(parsed->name)) return refuse(Refusal::BlockedName, kBlockedName);
        change = [this, game, race = *parsed] { return addRace(game, race); };
    } else {
        auto ip = parseRaceRemData(query->data.value_or(""));
        if (!ip) return refuse(Refusal::BadRaceData, kBadRaceData);
        if (*ip != client.ipv4)
            return refuse(Refusal::NotOwnAddress,
                          "You can only withdraw a race of your own address, which the lobby "
                          "sees as " + client.text + ".");
        change = [this, game, ip = *ip] { return removeRace(game, ip); };
    }
    call.path = kScriptPath;  // the request's own text is gone once this returns
    call.rawQuery = {};
    writer.post([this, call = std::move(call), change = std::move(change)]() mutable {
        Outcome outcome;
        try {
            outcome = change();
        } catch (const std::exception& e) {
            reportProblem(e.what());
            outcome = {errorBody(kInternal), Refusal::Internal};
        }
        call.refusal = outcome.refusal;
        finishScript(call, std::make_shared<const std::string>(std::move(outcome.body)));
    });
}

void LobbyServer::Impl::site(Call& call) {
    call.action = Action::Website;
    std::int64_t now = config.clock();
    std::vector<WebsiteLink> links;
    if (downloads)
        for (const auto& [name, label] : kClientDownloads)
            if (downloads->has(name))
                links.push_back(WebsiteLink{"/download/" + std::string(name), std::string(label)});
    HttpResponse res =
        HttpResponse::text(200, renderWebsite(gamesOf(currentLists(now)), now, config.clientUrl, links));
    res.contentType = "text/html; charset=utf-8";
    res.headers = {{"Cache-Control", "no-cache"},
                   {"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'"},
                   {"X-Content-Type-Options", "nosniff"}};
    finish(call, std::move(res));
}

// Like the race list: one body per second and pair of lists, shared by every request.
void LobbyServer::Impl::racesJson(Call& call) {
    call.action = Action::RacesJson;
    std::int64_t now = config.clock();
    auto shown = currentLists(now);
    std::shared_ptr<const std::string> body;
    {
        std::lock_guard lock(listsMutex);
        if (json.at == now && json.from == shown) body = json.body;
    }
    if (!body) {
        body = std::make_shared<const std::string>(renderRacesJson(gamesOf(shown), now));
        std::lock_guard lock(listsMutex);
        json = CachedJson{now, shown, body};
    }
    HttpResponse res;
    res.contentType = "application/json";
    res.headers = {{"Access-Control-Allow-Origin", "*"}, {"Cache-Control", "no-cache"}};
    res.body = std::move(body);
    finish(call, std::move(res));
}

void LobbyServer::Impl::metricsPage(Call& call) {
    call.action = Action::Metrics;
    if (config.metrics == LobbyConfig::Metrics::Off ||
        (config.metrics == LobbyConfig::Metrics::Loopback && !isLoopback(call.client)))
        return notFound(call);
    std::int64_t now = config.clock();
    LobbyMetrics::Snapshot snapshot;
    for (const GameRaces& game : gamesOf(currentLists(now)))
        snapshot.racesPerGame.emplace_back(game.game, game.races.size());
    const HttpCounters& c = http.counters();
    snapshot.openConnections = c.open;
    snapshot.rateLimitedAddresses = limiter.limitedAddresses(now);
    snapshot.connectionRefusals = {
        {"per_address", c.refusedPerAddress}, {"total", c.refusedTotal},
        {"head_timeout", c.headTimeouts},     {"idle_timeout", c.idleTimeouts},
        {"write_timeout", c.writeTimeouts},   {"too_large", c.tooLarge},
        {"bad_request", c.badRequests}};
    HttpResponse res = HttpResponse::text(200, metrics.render(snapshot));
    res.contentType = "text/plain; version=0.0.4; charset=utf-8";
    res.headers = {{"Cache-Control", "no-store"}};
    finish(call, std::move(res));
}

void LobbyServer::Impl::download(Call& call) {
    call.action = Action::Download;
    auto file = downloads ? downloads->find(call.path.substr(10)) : std::nullopt;
    if (!file) return notFound(call);
    HttpResponse res;
    res.contentType = file->contentType;
    // The name holds only letters, digits, '.', '-' and '_': it needs no quoting rules.
    res.headers = {{"Content-Disposition", "attachment; filename=\"" + file->name + "\""},
                   {"X-Content-Type-Options", "nosniff"},
                   {"Cache-Control", "no-cache"}};
    res.body = std::move(file->body);
    finish(call, std::move(res));
}

// The body changes with the clock's second and with the list; between those it is shared.
Lists LobbyServer::Impl::currentLists(std::int64_t now) {
    Lists shown;
    for (std::size_t i = 0; i < kGames.size(); ++i) shown[i] = currentList(static_cast<int>(i), now);
    return shown;
}

std::vector<GameRaces> LobbyServer::Impl::gamesOf(const Lists& lists) {
    std::vector<GameRaces> games;
    for (std::size_t i = 0; i < kGames.size(); ++i)
        games.push_back(GameRaces{std::string(kGames[i]), lists[i]->races});
    return games;
}

std::shared_ptr<const std::string> LobbyServer::Impl::raceList(int game) {
    auto index = static_cast<std::size_t>(game);
    std::int64_t now = config.clock();
    auto list = currentList(game, now);
    {
        std::lock_guard lock(listsMutex);
        const CachedBody& cached = bodies[index];
        if (cached.at == now && cached.from == list) return cached.body;
    }
    std::string text = "OK\n" + std::to_string(now) + "\n" + std::to_string(list->races.size()) + "\n";
    text += list->lines;
    auto body = std::make_shared<const std::string>(std::move(text));
    std::lock_guard lock(listsMutex);
    bodies[index] = CachedBody{now, list, body};
    return body;
}

Outcome LobbyServer::Impl::addRace(int game, const RaceAddData& race) {
    std::string gameName(kGames[static_cast<std::size_t>(game)]);
    std::int64_t now = config.clock();
    AddOutcome outcome = store.add(gameName, Race{race.name, race.ip, now}, config.maxRaces);
    if (outcome == AddOutcome::Full)
        return {errorBody("The " + gameName + " race list is full. Please try again later."),
                Refusal::ListFull};
    rebuildList(game, now);
    return {"OK\n", std::nullopt};
}

Outcome LobbyServer::Impl::removeRace(int game, std::uint32_t ip) {
    std::string gameName(kGames[static_cast<std::size_t>(game)]);
    if (!store.remove(gameName, ip))
        return {errorBody("You have no race in the " + gameName + " race list."), Refusal::NoRace};
    rebuildList(game, config.clock());
    return {"OK\n", std::nullopt};
}

std::shared_ptr<const BlockList> LobbyServer::Impl::currentBlockList() {
    std::lock_guard lock(listsMutex);
    return blockList;
}

// On the writer (or before serving).
void LobbyServer::Impl::reloadBlockList() {
    auto fresh = std::make_shared<const BlockList>(BlockList::load(config.blockListPath));
    {
        std::lock_guard lock(listsMutex);
        blockList = std::move(fresh);
    }
    rebuildLists(config.clock());
}

std::shared_ptr<const GameList> LobbyServer::Impl::makeList(std::vector<Race> races) const {
    auto list = std::make_shared<GameList>();
    list->races = std::move(races);
    for (const Race& race : list->races) {
        list->lines += race.name + ',' + std::to_string(race.ip) + ',' +
                       std::to_string(race.created) + '\n';
        list->expiresAt = std::min(list->expiresAt, race.created + config.raceTtlSeconds);
    }
    return list;
}

// A list past its first expiry is filtered in memory; the disk is the sweep's business.
std::shared_ptr<const GameList> LobbyServer::Impl::currentList(int game, std::int64_t now) {
    auto index = static_cast<std::size_t>(game);
    std::shared_ptr<const GameList> list;
    {
        std::lock_guard lock(listsMutex);
        list = lists[index];
    }
    if (now < list->expiresAt) return list;
    std::vector<Race> live;
    for (const Race& race : list->races)
        if (race.created > now - config.raceTtlSeconds) live.push_back(race);
    auto fresh = makeList(std::move(live));
    std::lock_guard lock(listsMutex);
    if (lists[index] == list) lists[index] = fresh;
    return fresh;
}

// On the writer (or before serving): reads the store.
void LobbyServer::Impl::rebuildList(int game, std::int64_t now) {
    auto index = static_cast<std::size_t>(game);
    auto blocks = currentBlockList();
    std::vector<Race> shown;
    for (Race& race : store.list(kGames[index], now - config.raceTtlSeconds))
        if (!blocks->blocksAddress(race.ip)) shown.push_back(std::move(race));
    auto list = makeList(std::move(shown));
    std::lock_guard lock(listsMutex);
    lists[index] = std::move(list);
}

void LobbyServer::Impl::rebuildLists(std::int64_t now) {
    for (std::size_t i = 0; i < kGames.size(); ++i) rebuildList(static_cast<int>(i), now);
}

void LobbyServer::Impl::refresh(std::int64_t now) {
    try {
        store.sweep(now - config.raceTtlSeconds);
        rebuildLists(now);
    } catch (const StoreError& e) {
        if (!lists[0]) throw;  // at start-up: the lobby can't serve without its lists
        reportProblem(std::string("sweep failed: ") + e.what());
    }
}

void LobbyServer::Impl::logAccess(const Call& call, const HttpResponse& res) const {
    std::string outcome = "-";
    const std::string& body = *res.body;
    if (call.path == kScriptPath) {
        std::size_t end = body.find('\n');
        outcome = body.substr(0, end);
        if (outcome == "ERROR" && end != std::string::npos)
            outcome += ": " + body.substr(end + 1, body.find('\n', end + 1) - end - 1);
    }
    config.accessLog(isoUtc(systemClock()) + ' ' + (call.client.text.empty() ? "-" : call.client.text) +
                     " \"" + escapeForLog(call.method, 16) + ' ' + escapeForLog(call.target, 200) +
                     "\" " + std::to_string(res.status) + ' ' + std::to_string(body.size()) +
                     " \"" + escapeForLog(outcome, 120) + '"');
}

LobbyServer::LobbyServer(LobbyConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

LobbyServer::~LobbyServer() { stop(); }

int LobbyServer::bind() {
    try {
        return impl_->http.bind(impl_->config.host, impl_->config.port);
    } catch (const HttpBindError& e) {
        throw BindError(e.what());
    }
}

void LobbyServer::run() {
    Impl& d = *impl_;
    d.writer.start();
    d.http.run();
    d.writer.stop();
}

void LobbyServer::stop() { impl_->http.stop(); }

bool LobbyServer::isRunning() const { return impl_->http.isRunning(); }

RaceStore& LobbyServer::store() { return impl_->store; }

void LobbyServer::reloadBlockList() { impl_->reloadBlockList(); }

const HttpCounters& LobbyServer::httpCounters() const { return impl_->http.counters(); }

}  // namespace lobby
