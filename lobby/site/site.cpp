#include "site/site.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "clients/client_files.h"
#include "http/peer_address.h"
#include "protocol/refusals.h"
#include "site/check_page.h"
#include "site/escaping.h"
#include "site/races_json.h"
#include "site/site_script.h"
#include "site/stats_page.h"
#include "site/website.h"

namespace lobby {
namespace {

constexpr std::string_view kDownloadPrefix = "/download/";

// The client builds the website links to, when the downloads folder or --public-url offers
// them: each installer before its portable client, the checksums last.
const std::vector<ClientFile> kClientDownloads = [] {
    std::vector<ClientFile> files;
    for (const ClientArch& arch : kClientArchs) files.insert(files.end(), {arch.setup, arch.portable});
    files.push_back(kChecksums);
    return files;
}();

bool isLoopback(const PeerAddress& client) {
    return client.isIpv4 ? (client.ipv4 >> 24) == 127 : client.text == "::1";
}

HttpResponse json(std::shared_ptr<const std::string> body) {
    HttpResponse res;
    res.contentType = "application/json";
    res.headers = {{"Access-Control-Allow-Origin", "*"}, {"Cache-Control", "no-cache"}};
    res.body = std::move(body);
    return res;
}

HttpResponse script() {
    static const auto body = std::make_shared<const std::string>(kSiteScript);
    HttpResponse res;
    res.contentType = "text/javascript; charset=utf-8";
    res.headers = {{"Cache-Control", "no-cache"}, {"X-Content-Type-Options", "nosniff"}};
    res.body = body;
    return res;
}

}  // namespace

HttpResponse notFound() { return HttpResponse::text(404, errorBody("Not found.")); }

Site::Site(const LobbyConfig& config, const RaceLists& lists, LobbyMetrics& metrics,
           std::function<void(LobbyMetrics::Snapshot&, std::int64_t)> fillMetrics, Checks* checks,
           const ProbeCounters* probeCounters)
    : config_(config), lists_(lists), metrics_(metrics), fillMetrics_(std::move(fillMetrics)),
      checks_(checks), probeCounters_(probeCounters) {
    if (!config.downloadsDir.empty()) downloads_ = std::make_unique<Downloads>(config.downloadsDir);
    if (config.clientBuilds) builds_ = std::make_unique<Downloads>(config.clientBuilds->outDir);
    makeStats({}, 0);  // until the lobby makes them from its history
}

bool Site::isBuild(std::string_view name) const {
    std::shared_ptr<const std::vector<std::string>> offered;
    {
        std::lock_guard lock(buildsMutex_);
        offered = offered_;
    }
    return builds_ && std::find(offered->begin(), offered->end(), name) != offered->end();
}

void Site::offerBuilds(const std::vector<std::string>& names) {
    auto offered = std::make_shared<const std::vector<std::string>>(names);
    std::lock_guard lock(buildsMutex_);
    offered_ = std::move(offered);
}

Site::~Site() = default;

SiteAnswer Site::answer(std::string_view path, const PeerAddress& client, std::int64_t now,
                        bool post) {
    std::optional<HttpResponse> response;
    Action action = Action::NotFound;
    // Every path the site serves, matched exactly (the query aside), and one folder.
    if (post) {
        if (takesPost(path)) return {Action::CheckAgain, checkPage(client, now, true)};
    } else if (path == "/") {
        action = Action::Website;
        response = website(now);
    } else if (path == "/races.json") {
        action = Action::RacesJson;
        response = json(racesJson(now));
    } else if (path == "/site.js") {
        action = Action::Website;
        response = script();
    } else if (path == "/stats") {
        action = Action::Stats;
        response = page(stats()->html);
    } else if (path == "/stats.json") {
        action = Action::StatsJson;
        response = json(stats()->json);
    } else if (path == kCheckPath) {
        action = Action::Check;
        response = checkPage(client, now, false);
    } else if (path == "/metrics") {
        action = Action::Metrics;
        response = metricsPage(client, now);
    } else if (path.substr(0, kDownloadPrefix.size()) == kDownloadPrefix) {
        action = Action::Download;
        std::string name(path.substr(kDownloadPrefix.size()));
        if (auto file = downloadFile(name, false)) response = download(std::move(*file));
        else if ((downloads_ && downloads_->has(name)) || isBuild(name))
            return {action, notFound(), [this, name] {
                        auto file = downloadFile(name, true);
                        return file ? download(std::move(*file)) : notFound();
                    }};
    }
    return {action, response ? std::move(*response) : notFound()};
}

HttpResponse Site::website(std::int64_t now) {
    std::vector<WebsiteLink> links;
    for (const auto& [name, label] : kClientDownloads)
        if ((downloads_ && downloads_->has(name)) || isBuild(name))
            links.push_back(WebsiteLink{std::string(kDownloadPrefix) + std::string(name),
                                            std::string(label)});
    WebsiteBody made{now, {}, std::move(links), nullptr};
    for (std::size_t i = 0; i < kGames.size(); ++i) made.lists[i] = lists_.shown(static_cast<int>(i), now);
    auto last = website_.load();
    if (last && last->at == now && last->lists == made.lists && last->links == made.links)
        return page(last->html);
    std::vector<GameRaces> games;
    for (std::size_t i = 0; i < kGames.size(); ++i)
        games.push_back(GameRaces{std::string(kGames[i].id), made.lists[i]->races,
                                  checksOf(static_cast<int>(i), made.lists[i]->races)});
    made.html = std::make_shared<const std::string>(
        renderWebsite(games, now, config_.clientUrl, made.links));
    auto html = made.html;
    website_.store(std::make_shared<const WebsiteBody>(std::move(made)));
    return page(std::move(html));
}

std::vector<Check> Site::checksOf(int game, const std::vector<Race>& races) const {
    std::vector<Check> checks;
    for (const Race& race : races) checks.push_back(checks_ ? checks_->of(game, race.ip) : Check{});
    return checks;
}

std::shared_ptr<const std::string> Site::racesJson(std::int64_t now) {
    std::vector<std::shared_ptr<const GameList>> lists;
    for (std::size_t i = 0; i < kGames.size(); ++i) lists.push_back(lists_.shown(static_cast<int>(i), now));
    {
        std::lock_guard lock(jsonMutex_);
        if (json_.body && json_.at == now && json_.from == lists) return json_.body;
    }
    std::vector<GameRaces> games;
    for (std::size_t game = 0; game < kGames.size(); ++game)
        games.push_back(GameRaces{std::string(kGames[game].id), lists[game]->races,
                                  checksOf(static_cast<int>(game), lists[game]->races)});
    auto body = std::make_shared<const std::string>(renderRacesJson(games, now));
    std::lock_guard lock(jsonMutex_);
    json_.at = now;
    json_.from = std::move(lists);
    json_.body = body;
    return body;
}

HttpResponse Site::checkPage(const PeerAddress& client, std::int64_t now, bool post) {
    CheckAgain asked = CheckAgain::NotAsked;
    if (post)
        asked = checks_ && client.isIpv4 && checks_->checkAgain(client.ipv4, now) ? CheckAgain::Started
                                                                                : CheckAgain::Refused;
    std::vector<HostRace> mine;
    for (std::size_t game = 0; game < kGames.size() && client.isIpv4; ++game)
        for (const Race& race : lists_.shown(static_cast<int>(game), now)->races)
            if (race.ip == client.ipv4)
                mine.push_back({std::string(kGames[game].id), race, checksOf(static_cast<int>(game), {race})[0]});
    HttpResponse res = page(std::make_shared<const std::string>(
        renderCheckPage(client, mine, checks_ != nullptr, asked, now)));
    // The page names the visitor's address: no cache may hand it to another.
    for (auto& [name, value] : res.headers)
        if (name == "Cache-Control") value = "no-store";
    return res;
}

HttpResponse Site::page(std::shared_ptr<const std::string> html) const {
    HttpResponse res;
    res.contentType = "text/html; charset=utf-8";
    res.headers = {{"Cache-Control", "no-cache"},
                   {"Content-Security-Policy", kPagePolicy},
                   {"X-Content-Type-Options", "nosniff"}};
    res.body = std::move(html);
    return res;
}

std::shared_ptr<const Site::StatsBodies> Site::stats() const {
    std::lock_guard lock(statsMutex_);
    return stats_;
}

std::int64_t Site::statsMadeAt() const { return stats()->at; }

void Site::makeStats(const std::vector<PastRace>& history, std::int64_t now) {
    std::vector<std::string> games;
    for (const auto& game : kGames) games.emplace_back(game.id);
    RaceStats figures = computeStats(history, games, now, config_.historyDays);
    auto made = std::make_shared<const StatsBodies>(
        StatsBodies{now, std::make_shared<const std::string>(renderStatsPage(figures)),
                    std::make_shared<const std::string>(renderStatsJson(figures))});
    std::lock_guard lock(statsMutex_);
    stats_ = std::move(made);
}

std::optional<HttpResponse> Site::metricsPage(const PeerAddress& client, std::int64_t now) {
    if (config_.metrics == LobbyConfig::Metrics::Off ||
        (config_.metrics == LobbyConfig::Metrics::Loopback && !isLoopback(client)))
        return std::nullopt;
    LobbyMetrics::Snapshot snapshot;
    for (std::size_t i = 0; i < kGames.size(); ++i)
        snapshot.racesPerGame.emplace_back(std::string(kGames[i].id),
                                           lists_.shown(static_cast<int>(i), now)->races.size());
    fillMetrics_(snapshot, now);
    snapshot.probes = probeCounters_;
    HttpResponse res = HttpResponse::text(200, metrics_.render(snapshot));
    res.contentType = "text/plain; version=0.0.4; charset=utf-8";
    res.headers = {{"Cache-Control", "no-store"}};
    return res;
}

std::optional<DownloadFile> Site::downloadFile(std::string_view name, bool read) {
    // The host's own file of the same name wins.
    bool own = downloads_ && downloads_->has(name);
    if (own)
        if (auto file = downloads_->find(name, read)) return file;
    if ((!own || read) && isBuild(name)) return builds_->find(name, read);
    return std::nullopt;
}

HttpResponse Site::download(DownloadFile file) {
    HttpResponse res;
    res.contentType = file.contentType;
    // The name holds only letters, digits, '.', '-' and '_': it needs no quoting rules.
    res.headers = {{"Content-Disposition", "attachment; filename=\"" + file.name + "\""},
                   {"X-Content-Type-Options", "nosniff"},
                   {"Cache-Control", "no-cache"}};
    res.body = std::move(file.body);
    return res;
}

std::string accessLogLine(std::int64_t when, std::string_view client, std::string_view method,
                          std::string_view target, int status, std::size_t bytes,
                          std::string_view note) {
    return isoUtc(when) + ' ' + (client.empty() ? "-" : std::string(client)) + " \"" +
           escapeForLog(method, 16) + ' ' + escapeForLog(target, 200) + "\" " +
           std::to_string(status) + ' ' + std::to_string(bytes) + " \"" +
           escapeForLog(note, 120) + '"';
}

}  // namespace lobby
