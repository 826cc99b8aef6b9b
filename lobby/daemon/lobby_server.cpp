#include "daemon/lobby_server.h"

#include <csignal>
#include <optional>
#include <string>

#include "daemon/threads.h"
#include "daemon/worker.h"
#include "http/rate_limiter.h"
#include "notify/notify.h"
#include "probe/prober.h"
#include "protocol/protocol.h"
#include "races/race_lists.h"
#include "site/metrics.h"
#include "site/site.h"
#include "site/stats_page.h"

namespace lobby {
namespace {

LobbyConfig withClock(LobbyConfig config) {
    if (!config.clock) config.clock = systemClock;
    return config;
}

std::shared_ptr<const BlockList> loadBlocks(const LobbyConfig& config) {
    if (config.blockListPath.empty()) return std::make_shared<const BlockList>();
    return std::make_shared<const BlockList>(BlockList::load(config.blockListPath));
}

// A request on its way through the lobby, with what its access-log line needs; it outlives
// the request's own text when a change waits for the writer.
struct Call {
    HttpReply reply;
    bool script = false;
    std::string client, method, target;
};

HttpResponse scriptResponse(const Outcome& outcome) {
    HttpResponse res;
    res.status = outcome.status;
    res.headers.emplace_back("Cache-Control", "no-store");
    res.body = outcome.body;
    return res;
}

}  // namespace

struct LobbyServer::Impl final : HttpHandler {
    Impl(LobbyConfig c, Checks* standIn, const ProbeCounters* standInCounters);

    LobbyConfig config;
    RaceStore store;
    RaceLists lists;
    RateLimiter limiter;
    std::optional<PeerAddress> trustedProxy;
    LobbyMetrics metrics;
    std::unique_ptr<Notifier> notifier;  // only with webhooks
    Site site;
    Worker writer;
    Worker fileReader;  // downloads not yet cached
    ProbeCounters probeCounters;
    Prober prober;
    std::optional<BackgroundClientBuilds> builds;  // with --public-url
    HttpServer http;  // it goes before the rest, and with it every session
    Threads threads;  // last: its threads end before anything they use

    void handle(const HttpRequest& req, HttpReply reply) override;
    HttpResponse refusal(int status) override {
        return HttpResponse::text(
            status, refusalBody(status == 400 ? Refusal::Unreadable : Refusal::TooLong));
    }

    std::optional<PeerAddress> clientOf(const HttpRequest& req) const;
    void finish(Call& call, Action action, HttpResponse res, std::optional<Refusal> refusal,
                const Outcome* script);
    void commit(Call call, Outcome asked);
    void raceEvent(const RaceEvent& event);
    void withdrawSilent(int game, std::uint32_t ip);
    void reloadBlockList();
    void makeStats(std::int64_t now);
    HttpLimits httpLimits() const;
};

LobbyServer::Impl::Impl(LobbyConfig c, Checks* standIn, const ProbeCounters* standInCounters)
    : config(withClock(std::move(c))),
      store(config.dbPath),
      lists(store, loadBlocks(config), config.raceTtlSeconds, config.historyDays, config.maxRaces,
            config.clock()),
      limiter(config.rateLimit),
      trustedProxy(config.trustedProxy.empty() ? std::nullopt : parsePeerAddress(config.trustedProxy)),
      notifier(config.notify.empty() ? nullptr
                                     : std::make_unique<Notifier>(config.notify, config.notifyCa, reportProblem, config.clock)),
      site(config, lists, metrics,
           [this](LobbyMetrics::Snapshot& snapshot, std::int64_t now) {
               const HttpCounters& h = http.counters();
               snapshot.openConnections = h.open;
               snapshot.rateLimitedAddresses = limiter.limitedAddresses(now);
               snapshot.connectionRefusals = {
                   {"per_address", h.refusedPerAddress}, {"total", h.refusedTotal},
                   {"head_timeout", h.headTimeouts},     {"idle_timeout", h.idleTimeouts},
                   {"write_timeout", h.writeTimeouts},   {"too_large", h.tooLarge},
                   {"bad_request", h.badRequests}};
               if (notifier) snapshot.notifications = notifier->counts();
           },
           // With probing off the site shows no prober: every race "not checked".
           standIn ? standIn : config.probe.enabled ? &prober : nullptr,
           standIn ? standInCounters : config.probe.enabled ? &probeCounters : nullptr),
      prober(config.probe, Expiry{config.raceTtlSeconds}, config.clock, probeCounters,
             [this](int game, std::uint32_t ip) { withdrawSilent(game, ip); }, reportProblem),
      http(*this, httpLimits()) {
    if (config.clientBuilds)
        builds.emplace(
            *config.clientBuilds, [this](const std::vector<std::string>& names) { site.offerBuilds(names); },
            reportProblem);
    lists.onEvent([this](const RaceEvent& event) { raceEvent(event); });
    makeStats(config.clock());
    writer.every(config.sweepInterval, [this] {
        std::int64_t now = config.clock();
        try {
            lists.sweep(now);
        } catch (const StoreError& e) {
            reportProblem(std::string("sweep failed: ") + e.what());
        }
        if (now - site.statsMadeAt() >= Site::kStatsSeconds) makeStats(now);
    });
    // An admin command or `seed` writes through a connection of its own.
    writer.every(config.changePoll, [this] { lists.pollStore(config.clock()); });
    // Started in this order once the socket is bound, stopped the other way round: the
    // notifier outlives the writer that feeds it, the writer the sessions that post to it.
    if (notifier) threads.add("notifier", [this] { notifier->run(); }, [this] { notifier->stop(); });
    threads.add("writer", [this] { writer.run(); }, [this] { writer.stop(); });
    // It hands the writer its withdrawals, so it stops before the writer does.
    threads.add("prober", [this] { prober.run(); }, [this] { prober.stop(); });
    threads.add("file reader", [this] { fileReader.run(); }, [this] { fileReader.stop(); });
    if (builds) threads.add("client builds", [this] { builds->run(); }, [this] { builds->stop(); });
    for (std::size_t i = 0; i < http.loopCount(); ++i)
        threads.add("http " + std::to_string(i), [this, i] { http.serve(i); }, [this] { http.stop(); });
    if (!config.stopOnSignals) return;
    // Taken from here on: a signal before run() stops it as soon as it starts.
    writer.onSignal(SIGINT, [this] { threads.requestStop(); });
    writer.onSignal(SIGTERM, [this] { threads.requestStop(); });
    // Reload is run blindly by hosts and their tools: SIGHUP's default action would end the
    // process, which systemd takes for a clean stop and does not restart.
    writer.onSignal(SIGHUP, [this] {
        if (config.blockListPath.empty()) {
            reportProblem("SIGHUP: no --block-list configured, nothing to re-read");
            return;
        }
        try {
            reloadBlockList();
            reportProblem("block list " + config.blockListPath + " read again");
        } catch (const BlockListError& e) {
            reportProblem("block list " + config.blockListPath + " not changed: " + e.what());
        }
    });
}

HttpLimits LobbyServer::Impl::httpLimits() const {
    HttpLimits limits = config;
    if (trustedProxy) limits.uncapped.push_back(keyOf(*trustedProxy));
    return limits;
}

void LobbyServer::Impl::handle(const HttpRequest& req, HttpReply reply) {
    std::string_view target = req.target();
    std::size_t mark = target.find('?');
    std::string_view path = target.substr(0, mark);
    std::string_view rawQuery = mark == std::string_view::npos ? "" : target.substr(mark + 1);
    Call call{std::move(reply), path == kScriptPath, {}, {}, {}};
    if (config.accessLog) {
        call.method = req.method();
        call.target = target;
    }
    const Action unknown = call.script ? Action::Unknown : Action::NotFound;
    std::int64_t now = config.clock();
    auto client = clientOf(req);
    if (client) call.client = client->text;

    std::optional<Refusal> early;
    if (!client) early = Refusal::NoAddress;
    else if (!limiter.allow(keyOf(*client), now)) early = Refusal::RateLimited;
    if (early) {
        // The client shows only bodies of status 200; elsewhere HTTP's own codes serve.
        Outcome refused = refusedScript(unknown, *early);
        if (call.script) return finish(call, unknown, HttpResponse::text(200, *refused.body), early, &refused);
        int status = *early == Refusal::RateLimited ? 429 : 400;
        return finish(call, unknown, HttpResponse::text(status, refusalText(*early) + "\n"), early, nullptr);
    }
    const bool post = req.method() == "POST" && !call.script && Site::takesPost(path);
    if (req.method() != "GET" && req.method() != "HEAD" && !post) {
        Outcome refused = refusedScript(unknown, Refusal::Unreadable);
        HttpResponse res = HttpResponse::text(405, *refused.body);
        res.headers.emplace_back("Allow", "GET, HEAD");
        return finish(call, unknown, std::move(res), refused.refusal, call.script ? &refused : nullptr);
    }
    if (!call.script) {
        SiteAnswer answer = site.answer(path, *client, now, post);
        if (!answer.readFirst)
            return finish(call, answer.action, std::move(answer.response), std::nullopt, nullptr);
        return fileReader.post([this, call = std::move(call), answer = std::move(answer)]() mutable {
            finish(call, answer.action, answer.readFirst(), std::nullopt, nullptr);
        });
    }
    Outcome outcome = answerScript({rawQuery, *client, now, config.maxQuery}, lists, *lists.blocks());
    if (outcome.change) return commit(std::move(call), std::move(outcome));
    finish(call, outcome.action, scriptResponse(outcome), outcome.refusal, &outcome);
}

// Everything but the write itself is checked; the write goes to the writer, and the answer
// leaves once it is committed.
void LobbyServer::Impl::commit(Call call, Outcome asked) {
    writer.post([this, call = std::move(call), asked = std::move(asked)]() mutable {
        Outcome outcome = commitChange(std::move(asked), lists, config.clock(), reportProblem);
        finish(call, outcome.action, scriptResponse(outcome), outcome.refusal, &outcome);
    });
}

// On the writer, once committed.
void LobbyServer::Impl::raceEvent(const RaceEvent& event) {
    if (event.kind != RaceEvent::Kind::Announced) return prober.gone(event.game, event.race.ip);
    prober.announced(event.game, event.race.ip, event.race.created);
    if (!notifier) return;
    // The block list may have changed since the request was checked.
    auto blocks = lists.blocks();
    if (!blocks->blocksAddress(event.race.ip) && !blocks->blocksName(event.race.name))
        notifier->announce(std::string(kGames[static_cast<std::size_t>(event.game)].id), event.race);
}

// From the prober's thread: withdrawn as its host would withdraw it.
void LobbyServer::Impl::withdrawSilent(int game, std::uint32_t ip) {
    writer.post([this, game, ip] {
        try {
            lists.commit(Change{Change::Kind::Remove, game, Race{"", ip, 0}}, config.clock());
        } catch (const std::exception& e) {
            reportProblem(std::string("silent race not withdrawn: ") + e.what());
        }
    });
}

std::optional<PeerAddress> LobbyServer::Impl::clientOf(const HttpRequest& req) const {
    const PeerAddress& peer = req.peer();
    if (!trustedProxy || peer.text != trustedProxy->text) return peer;
    // The trusted proxy's own entry is the last one of the last header line.
    auto values = req.headers(config.proxyHeader);
    if (values.empty()) return std::nullopt;
    return parsePeerAddress(lastHeaderItem(values.back()));
}

// script: the protocol's outcome, from which success and the log's note are read; elsewhere
// a status below 400 is success.
void LobbyServer::Impl::finish(Call& call, Action action, HttpResponse res,
                               std::optional<Refusal> refusal, const Outcome* script) {
    metrics.count(action, script ? script->ok() : res.status < 400);
    if (refusal) metrics.count(*refusal);
    if (config.accessLog)
        config.accessLog(accessLogLine(config.clock(), call.client, call.method, call.target,
                                       res.status, res.body->size(),
                                       script ? script->summary() : "-"));
    call.reply(std::move(res));
}

// On the writer (or before serving).
void LobbyServer::Impl::makeStats(std::int64_t now) {
    try {
        site.makeStats(store.history(statsReadFrom(now)), now);
    } catch (const StoreError& e) {
        reportProblem(std::string("statistics not made: ") + e.what());
    }
}

// On the writer (or before serving).
void LobbyServer::Impl::reloadBlockList() {
    lists.setBlocks(loadBlocks(config), config.clock());
}

LobbyServer::LobbyServer(LobbyConfig config, Checks* checks, const ProbeCounters* probeCounters)
    : impl_(std::make_unique<Impl>(std::move(config), checks, probeCounters)) {}

LobbyServer::~LobbyServer() { stop(); }

int LobbyServer::bind() { return impl_->http.bind(impl_->config.host, impl_->config.port); }

void LobbyServer::addThread(std::string name, std::function<void()> run, std::function<void()> stop) {
    impl_->threads.add(std::move(name), std::move(run), std::move(stop));
}

void LobbyServer::run() { impl_->threads.run(); }

void LobbyServer::stop() { impl_->threads.requestStop(); }

bool LobbyServer::isRunning() const { return impl_->threads.isRunning(); }

RaceStore& LobbyServer::store() { return impl_->store; }

// Only the writer changes the lists.
void LobbyServer::reloadBlockList() {
    impl_->writer.call([this] { impl_->reloadBlockList(); });
}

const HttpCounters& LobbyServer::httpCounters() const { return impl_->http.counters(); }

Checks& LobbyServer::checks() { return impl_->prober; }

const ProbeCounters& LobbyServer::probeCounters() const { return impl_->probeCounters; }

}  // namespace lobby
