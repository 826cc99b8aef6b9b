#pragma once
// Every route but the client's protocol: the website and its script, the JSON feed, the
// statistics, the page for hosts, /metrics and the downloads folder; and the access log's line. A new route goes
// into Site::answer's table.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include <string_view>

#include "daemon/config.h"
#include "http/http_server.h"
#include "probe/check.h"
#include "protocol/protocol.h"
#include "races/history.h"
#include "races/race_lists.h"
#include "site/downloads.h"
#include "site/metrics.h"
#include "system/shared_slot.h"

namespace lobby {

struct SiteAnswer {
    Action action = Action::NotFound;
    HttpResponse response;
    // Set when the answer must first read a file: run off the I/O threads, it gives the
    // response instead.
    std::function<HttpResponse()> readFirst;
};

class Site {
public:
    // fillMetrics adds what lives outside the site (connections, rate limits) to /metrics.
    // checks and probeCounters: the prober's, or null without one (every race "not
    // checked"); they outlive the site. Throws DownloadsError if the downloads folder or
    // that of the clients made for --public-url can't be opened.
    Site(const LobbyConfig& config, const RaceLists& lists, LobbyMetrics& metrics,
         std::function<void(LobbyMetrics::Snapshot&, std::int64_t now)> fillMetrics,
         Checks* checks = nullptr, const ProbeCounters* probeCounters = nullptr);
    ~Site();

    // The one route that takes a POST: "Check again" on the page for hosts.
    static constexpr std::string_view kCheckPath = "/check";
    static bool takesPost(std::string_view path) { return path == kCheckPath; }

    // GET (or HEAD) unless post, which only takesPost's path gets.
    SiteAnswer answer(std::string_view path, const PeerAddress& client, std::int64_t now,
                      bool post = false);

    // /stats and /stats.json, made again from the history; on the writer, at most once a
    // minute, and shared by every request until the next time.
    static constexpr std::int64_t kStatsSeconds = 60;
    std::int64_t statsMadeAt() const;
    void makeStats(const std::vector<PastRace>& history, std::int64_t now);
    // From any thread: the clients made for --public-url that are written, to be served.
    void offerBuilds(const std::vector<std::string>& names);

private:
    struct StatsBodies {
        std::int64_t at = 0;
        std::shared_ptr<const std::string> html, json;
    };
    // The front page as last made: one per second, lists and links, shared.
    struct WebsiteBody {
        std::int64_t at = 0;
        std::array<std::shared_ptr<const GameList>, kGames.size()> lists;
        std::vector<WebsiteLink> links;
        std::shared_ptr<const std::string> html;
    };
    std::shared_ptr<const StatsBodies> stats() const;
    HttpResponse page(std::shared_ptr<const std::string> html) const;
    HttpResponse website(std::int64_t now);
    // The lists with each race's check.
    std::vector<Check> checksOf(int game, const std::vector<Race>& races) const;
    std::shared_ptr<const std::string> racesJson(std::int64_t now);
    HttpResponse checkPage(const PeerAddress& client, std::int64_t now, bool post);
    std::optional<HttpResponse> metricsPage(const PeerAddress& client, std::int64_t now);
    // read false: only what is cached.
    std::optional<DownloadFile> downloadFile(std::string_view name, bool read);
    static HttpResponse download(DownloadFile file);
    // One of the clients made for --public-url.
    bool isBuild(std::string_view name) const;

    const LobbyConfig& config_;
    const RaceLists& lists_;
    LobbyMetrics& metrics_;
    std::function<void(LobbyMetrics::Snapshot&, std::int64_t)> fillMetrics_;
    Checks* checks_;
    const ProbeCounters* probeCounters_;
    std::unique_ptr<Downloads> downloads_;
    std::unique_ptr<Downloads> builds_;
    mutable std::mutex buildsMutex_;  // held only to copy or swap the pointer
    std::shared_ptr<const std::vector<std::string>> offered_ = std::make_shared<const std::vector<std::string>>();
    mutable std::mutex statsMutex_;  // held only to copy or swap the pointer
    std::shared_ptr<const StatsBodies> stats_;
    SharedSlot<const WebsiteBody> website_;
    std::mutex jsonMutex_;  // /races.json: one body per second and set of lists, shared
    struct {
        std::int64_t at = 0;
        std::vector<std::shared_ptr<const GameList>> from;
        std::shared_ptr<const std::string> body;
    } json_;
};

HttpResponse notFound();

// One access-log line: time, client, request line, status, bytes and the protocol's note
// ("-" for the site), with anything unprintable escaped.
std::string accessLogLine(std::int64_t when, std::string_view client, std::string_view method,
                          std::string_view target, int status, std::size_t bytes,
                          std::string_view note);

}  // namespace lobby
