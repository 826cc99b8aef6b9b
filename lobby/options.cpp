#include "options.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <type_traits>

#include "notify.h"
#include "race_store.h"
#include "wire.h"
#include "wire/site_slot.h"

namespace lobby {
namespace {

std::optional<long long> parseNumber(const std::string& text, long long min, long long max) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

bool parseListen(const std::string& text, LobbyConfig& config) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    auto port = parseNumber(text.substr(colon + 1), 0, 65535);
    if (host.empty() || !port) return false;
    config.host = host;
    config.port = static_cast<int>(*port);
    return true;
}

bool isHeaderName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_'))
            return false;
    return true;
}

bool isPlainUrl(const std::string& url) {
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) return false;
    for (char c : url)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return false;
    return true;
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    LobbyConfig& c = cl.config;
    std::size_t i = 0;
    static const std::map<std::string, CommandLine::Mode> kSubcommands = {
        {"seed", CommandLine::Mode::Seed},
        {"races", CommandLine::Mode::Races},
        {"remove", CommandLine::Mode::Remove},
        {"client", CommandLine::Mode::Client}};
    if (!args.empty())
        if (auto sub = kSubcommands.find(args[0]); sub != kSubcommands.end()) {
            cl.mode = sub->second;
            i = 1;
        }
    const bool seed = cl.mode == CommandLine::Mode::Seed;

    // Each option's setter; false means the value is not acceptable.
    using Setter = std::function<bool(const std::string&)>;
    auto number = [](auto& field, long long min, long long max) {
        return Setter([&field, min, max](const std::string& v) {
            auto n = parseNumber(v, min, max);
            if (n) field = static_cast<std::remove_reference_t<decltype(field)>>(*n);
            return n.has_value();
        });
    };
    std::map<std::string, Setter> options;
    options["--db"] = [&](const std::string& v) {
        c.dbPath = v;
        return !v.empty();
    };
    // Empty leaves it off, as an empty LOBBY_PUBLIC_URL does; what is wrong with any other
    // value is said once all options are read.
    auto publicUrl = [&](const std::string& v) {
        c.publicUrl = v;
        return true;
    };
    auto clientsDir = [&](const std::string& v) {
        c.clientsDir = v;
        return !v.empty();
    };
    if (cl.mode == CommandLine::Mode::Client) {
        options.erase("--db");
        options["--public-url"] = publicUrl;
        options["--clients"] = clientsDir;
        options["--out"] = [&](const std::string& v) {
            cl.clientOut = v;
            return !v.empty();
        };
    } else if (cl.mode == CommandLine::Mode::Races) {
        // --db only
    } else if (cl.mode == CommandLine::Mode::Remove) {
        options["--game"] = [&](const std::string& v) {
            cl.removeGame = v;
            return v == "NFS4" || v == "NFS5";
        };
        options["--ip"] = [&](const std::string& v) {
            auto peer = parsePeerAddress(v);
            if (peer && peer->isIpv4 && peer->text == v) cl.removeIp = peer->ipv4;
            return cl.removeIp.has_value();
        };
    } else if (seed) {
        options["--races"] = number(cl.seedRaces, 1, kMaxDemoRaces);
        options["--game"] = [&](const std::string& v) {
            cl.seedGames = {v};
            return v == "NFS4" || v == "NFS5";
        };
    } else {
        options["--listen"] = [&](const std::string& v) { return parseListen(v, c); };
        options["--race-ttl"] = [&](const std::string& v) {
            auto minutes = parseNumber(v, 1, 7 * 24 * 60);
            if (minutes) c.raceTtlSeconds = *minutes * 60;
            return minutes.has_value();
        };
        options["--history-days"] = number(c.historyDays, 1, 3650);
        options["--max-races"] = number(c.maxRaces, 1, 100000);
        options["--rate-limit"] = number(c.rateLimit, 0, 1000000);
        options["--max-query"] = number(c.maxQuery, 64, 8192);
        options["--threads"] = number(c.threads, 1, 512);
        options["--max-connections"] = number(c.maxConnections, 1, 1000000);
        options["--max-per-address"] = number(c.maxPerAddress, 1, 100000);
        options["--head-seconds"] = [&](const std::string& v) {
            auto seconds = parseNumber(v, 1, 600);
            if (seconds) c.headTimeout = std::chrono::seconds(*seconds);
            return seconds.has_value();
        };
        options["--trusted-proxy"] = [&](const std::string& v) {
            c.trustedProxy = v;
            return parsePeerAddress(v).has_value();
        };
        options["--proxy-header"] = [&](const std::string& v) {
            c.proxyHeader = v;
            return isHeaderName(v);
        };
        options["--client-url"] = [&](const std::string& v) {
            c.clientUrl = v;
            return isPlainUrl(v);
        };
        options["--block-list"] = [&](const std::string& v) {
            c.blockListPath = v;
            return !v.empty();
        };
        options["--metrics"] = [&](const std::string& v) {
            static const std::map<std::string, LobbyConfig::Metrics> kValues = {
                {"off", LobbyConfig::Metrics::Off},
                {"loopback", LobbyConfig::Metrics::Loopback},
                {"on", LobbyConfig::Metrics::On}};
            auto it = kValues.find(v);
            if (it != kValues.end()) c.metrics = it->second;
            return it != kValues.end();
        };
        options["--downloads"] = [&](const std::string& v) {
            c.downloadsDir = v;
            return !v.empty();
        };
        options["--notify"] = [&](const std::string& v) {
            auto parsed = parseWebhook(v);
            if (parsed.webhook) c.notify.push_back(*parsed.webhook);
            return parsed.webhook.has_value();
        };
        options["--notify-ca"] = [&](const std::string& v) {
            c.notifyCa = v;
            return !v.empty();
        };
        options["--public-url"] = publicUrl;
        options["--clients"] = clientsDir;
        options["--sweep-seconds"] = [&](const std::string& v) {
            auto seconds = parseNumber(v, 1, 3600);
            if (seconds) c.sweepInterval = std::chrono::seconds(*seconds);
            return seconds.has_value();
        };
    }

    for (; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "--help" || name == "-h") {
            cl.mode = CommandLine::Mode::Help;
            return {cl, ""};
        }
        if (name == "--version") {
            cl.mode = CommandLine::Mode::Version;
            return {cl, ""};
        }
        std::optional<std::string> value;
        if (std::size_t eq = name.find('='); eq != std::string::npos && name.rfind("--", 0) == 0) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto option = options.find(name);
        if (option == options.end()) return {std::nullopt, "unknown option " + name};
        if (!value) {
            if (i + 1 >= args.size()) return {std::nullopt, name + " needs a value"};
            value = args[++i];
        }
        if (!option->second(*value)) return {std::nullopt, "bad value for " + name + ": " + *value};
    }
    if (cl.mode == CommandLine::Mode::Remove && (cl.removeGame.empty() || !cl.removeIp))
        return {std::nullopt, "remove needs --game NFS4|NFS5 and --ip ADDRESS"};
    if (cl.mode == CommandLine::Mode::Client && (c.publicUrl.empty() || cl.clientOut.empty()))
        return {std::nullopt, "client needs --public-url URL and --out DIR"};
    if (!c.publicUrl.empty())
        if (auto problem = siteUrlProblem(c.publicUrl))
            return {std::nullopt, "--public-url " + c.publicUrl + ": the address " + *problem};
    return {cl, ""};
}

std::string usageText() {
    return R"(Usage: kestrun-lobby [options]
       kestrun-lobby seed [--db PATH] [--races N] [--game NFS4|NFS5]
       kestrun-lobby races [--db PATH]
       kestrun-lobby remove [--db PATH] --game NFS4|NFS5 --ip A.B.C.D
       kestrun-lobby client --public-url URL --out DIR [--clients DIR]
       kestrun-lobby --version

Serves the Kestrun race lobby: the client's endpoint /server/server.php and the lobby's
website at /. Once the socket is bound it prints "kestrun-lobby listening on HOST:PORT"
on standard error; then one access-log line per request on standard output.
SIGINT or SIGTERM stops it; SIGHUP reads the block list again.

Options:
  --listen HOST:PORT    where to listen (default 127.0.0.1:8080; [::]:PORT takes IPv6 and
                        IPv4 clients; port 0 picks a free port)
  --db PATH             SQLite database (default kestrun-lobby.db; :memory: keeps nothing)
  --race-ttl MINUTES    a race disappears this long after it was announced (default 60)
  --history-days N      /stats's history forgets a race this long after it ended (default
                        90); it keeps when races were open, never who hosted them
  --max-races N         races per game (default 1000)
  --rate-limit N        requests per client address per minute (default 120; 0: no limit)
  --max-query BYTES     longest query string accepted (default 512)
  --threads N           I/O threads; connections share them (default: one per core)
  --max-connections N   open connections at once (default 20000; the file limit, raised
                        to its hard maximum at start, may hold fewer)
  --max-per-address N   open connections from one address, IPv6 from one /64 (default 64;
                        the trusted proxy has none)
  --head-seconds N      a request's line and headers must arrive within this (default 10);
                        a kept-alive connection may wait 5 seconds for its next request
  --trusted-proxy ADDR  the one reverse proxy whose address header is believed; without
                        it no header is believed
  --proxy-header NAME   the header in which that proxy passes the client's address
                        (default X-Forwarded-For; its last item counts)
  --client-url URL      where the website tells players to get the client
  --public-url URL      the address players reach the lobby at, http://HOST[:PORT]/: the
                        lobby then offers under /download/ the Windows clients for it
                        (kestrun.exe, kestrun-x86.exe, their installers kestrun-setup.exe
                        and kestrun-setup-x86.exe when makensis is installed, SHA256SUMS),
                        made at start into the folder "clients" beside the database and
                        kept until the address or the packaged clients change
  --clients DIR         the packaged clients it makes them from (default
                        /usr/share/kestrun-lobby)
  --downloads DIR       serves the files of DIR under /download/ (no listing, no
                        subfolders), before those of --public-url; the website links the
                        client builds found there
  --block-list FILE     addresses and words kept out, one a line: an IPv4 or IPv6 address
                        or CIDR range (may not announce races; their races are hidden), or
                        "word: TEXT" (race names may not contain it, in any case); '#'
                        starts a comment. A bad line stops the lobby at start; on SIGHUP it
                        is reported and the previous list stays
  --metrics WHO         who may read /metrics (Prometheus): off, loopback (default) or on
  --notify KIND:URL     posts each newly announced race to this webhook; KIND is discord,
                        slack (also Mattermost, Rocket.Chat) or json (the race as
                        /races.json shows it, with "event"); may be given several times
  --notify-ca FILE      PEM certificates trusted for webhooks besides the system's
  --sweep-seconds N     how often expired races are removed (default 30)
  --help                this text
  --version             the lobby's version

seed: writes demonstration races straight into the database: N per game (default 20, at
most 762), or for the one game named. Their hosts are addresses from the documentation
blocks 192.0.2.0/24, 198.51.100.0/24 and 203.0.113.0/24, which belong to no one, so no
player's address is claimed; seeding again replaces them. They expire like any race.

races: lists every race in the database, one a line: game, host address, created (UTC),
name. remove: withdraws the race of that address from that game's list. Both work on the
database of a running lobby, which shows the change within a few seconds, as it does
seeded races.

client: writes into DIR the files that --public-url offers, for serving them elsewhere.
)";
}

}  // namespace lobby
