#include "daemon/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>

#include "clients/client_files.h"
#include "http/peer_address.h"
#include "notify/notify.h"
#include "probe/dplay.h"
#include "probe/ranges.h"
#include "races/race_store.h"
#include "wire/site_slot.h"
#include "wire/text_rules.h"

namespace lobby {
namespace {

// Decimal digits only, at most 9 of them, within [min, max].
std::optional<long long> parseNumber(const std::string& text, long long min, long long max) {
    auto digits = parseDigits(text, 9);
    if (!digits) return std::nullopt;
    auto value = static_cast<long long>(*digits);
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

// HOST:PORT for the probe's replies: an IPv4 or IPv6 address (IPv6 in brackets) and a port.
bool parseProbeListen(const std::string& text, ProbeConfig& probe) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    auto peer = parsePeerAddress(host);
    auto port = parseNumber(text.substr(colon + 1), 0, 65535);
    if (!peer || !port) return false;
    probe.listenHost = host;
    probe.listenPort = static_cast<int>(*port);
    return true;
}

bool parseProbeApp(const std::string& text, ProbeConfig& probe) {
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    int game = gameIndex(text.substr(0, equals));
    auto guid = dplay::parseGuid(std::string_view(text).substr(equals + 1));
    if (game < 0 || !guid) return false;
    probe.applications[static_cast<std::size_t>(game)] = *guid;
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
        if (c == ' ' || isControlByte(c)) return false;
    return true;
}

bool isGame(const std::string& id) { return gameIndex(id) >= 0; }

struct BadValue {
    std::string option, value;
};

// Each option's setter; false means the value is not acceptable.
using Setter = std::function<bool(const std::string&)>;

template <typename Field>
Setter number(Field& field, long long min, long long max) {
    return [&field, min, max](const std::string& v) {
        auto n = parseNumber(v, min, max);
        if (n) field = static_cast<Field>(*n);
        return n.has_value();
    };
}

template <typename Duration>
Setter seconds(Duration& field, long long max) {
    return [&field, max](const std::string& v) {
        auto n = parseNumber(v, 1, max);
        if (n) field = std::chrono::seconds(*n);
        return n.has_value();
    };
}

Setter text(std::string& field, std::function<bool(const std::string&)> acceptable) {
    return [&field, acceptable = std::move(acceptable)](const std::string& v) {
        field = v;
        return acceptable(v);
    };
}

bool notEmpty(const std::string& v) { return !v.empty(); }

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    LobbyConfig& c = cl.config;
    static const std::map<std::string, CommandLine::Mode> kSubcommands = {
        {"seed", CommandLine::Mode::Seed},
        {"races", CommandLine::Mode::Races},
        {"remove", CommandLine::Mode::Remove},
        {"client", CommandLine::Mode::Client}};
    auto first = args.begin();
    if (first != args.end())
        if (auto sub = kSubcommands.find(*first); sub != kSubcommands.end()) {
            cl.mode = sub->second;
            ++first;
        }
    // --help and --version end the command line: what follows them is not looked at.
    auto last = std::find_if(first, args.end(), [](const std::string& a) {
        return a == "--help" || a == "-h" || a == "--version";
    });

    CLI::App app;
    app.set_help_flag();
    app.allow_extras();
    std::vector<std::string> names;
    auto option = [&](const std::string& name, Setter set) {
        names.push_back(name);
        app.add_option_function<std::string>(name, [name, set = std::move(set)](const std::string& v) {
               if (!set(v)) throw BadValue{name, v};
           })->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    };
    // Given once or more, one value each time.
    auto repeatable = [&](const std::string& name, Setter set) {
        names.push_back(name);
        app.add_option_function<std::vector<std::string>>(
               name, [name, set = std::move(set)](const std::vector<std::string>& values) {
                   for (const std::string& v : values)
                       if (!set(v)) throw BadValue{name, v};
               })->allow_extra_args(false);
    };
    // Empty leaves it off, as an empty LOBBY_PUBLIC_URL does; what is wrong with any other
    // value is said once all options are read.
    auto publicUrl = [&](const std::string& v) {
        c.publicUrl = v;
        return true;
    };
    if (cl.mode == CommandLine::Mode::Client) {
        option("--public-url", publicUrl);
        option("--clients", text(c.clientsDir, notEmpty));
        option("--out", text(cl.clientOut, notEmpty));
    } else {
        option("--db", text(c.dbPath, notEmpty));
    }
    if (cl.mode == CommandLine::Mode::Remove) {
        option("--game", text(cl.removeGame, isGame));
        option("--ip", [&](const std::string& v) {
            auto peer = parsePeerAddress(v);
            if (peer && peer->isIpv4 && peer->text == v) cl.removeIp = peer->ipv4;
            return cl.removeIp.has_value();
        });
    } else if (cl.mode == CommandLine::Mode::Seed) {
        option("--races", number(cl.seedRaces, 1, kMaxDemoRaces));
        option("--game", [&](const std::string& v) {
            cl.seedGames = {v};
            return isGame(v);
        });
    } else if (cl.mode == CommandLine::Mode::Serve) {
        option("--listen", [&](const std::string& v) { return parseListen(v, c); });
        option("--race-ttl", [&](const std::string& v) {
            auto minutes = parseNumber(v, 1, 7 * 24 * 60);
            if (minutes) c.raceTtlSeconds = *minutes * 60;
            return minutes.has_value();
        });
        option("--history-days", number(c.historyDays, 1, 3650));
        option("--max-races", number(c.maxRaces, 1, 100000));
        option("--rate-limit", number(c.rateLimit, 0, 1000000));
        option("--max-query", number(c.maxQuery, 64, 8192));
        option("--threads", number(c.threads, 1, 512));
        option("--max-connections", number(c.maxConnections, 1, 1000000));
        option("--max-per-address", number(c.maxPerAddress, 1, 100000));
        option("--head-seconds", seconds(c.headTimeout, 600));
        option("--trusted-proxy", text(c.trustedProxy, [](const std::string& v) {
                   return parsePeerAddress(v).has_value();
               }));
        option("--proxy-header", text(c.proxyHeader, isHeaderName));
        option("--client-url", text(c.clientUrl, isPlainUrl));
        option("--block-list", text(c.blockListPath, notEmpty));
        option("--metrics", [&](const std::string& v) {
            static const std::map<std::string, LobbyConfig::Metrics> kValues = {
                {"off", LobbyConfig::Metrics::Off},
                {"loopback", LobbyConfig::Metrics::Loopback},
                {"on", LobbyConfig::Metrics::On}};
            auto it = kValues.find(v);
            if (it != kValues.end()) c.metrics = it->second;
            return it != kValues.end();
        });
        option("--downloads", text(c.downloadsDir, notEmpty));
        repeatable("--notify", [&](const std::string& v) {
            auto parsed = parseWebhook(v);
            if (parsed.webhook) c.notify.push_back(*parsed.webhook);
            return parsed.webhook.has_value();
        });
        option("--notify-ca", text(c.notifyCa, notEmpty));
        option("--public-url", publicUrl);
        option("--clients", text(c.clientsDir, notEmpty));
        option("--sweep-seconds", seconds(c.sweepInterval, 3600));
        option("--probe", [&](const std::string& v) {
            c.probe.enabled = v == "on";
            return v == "on" || v == "off";
        });
        repeatable("--probe-allow", [&](const std::string& v) {
            auto range = parseCidr(v);
            if (range) c.probe.allowed.push_back(*range);
            return range.has_value();
        });
        repeatable("--probe-app", [&](const std::string& v) { return parseProbeApp(v, c.probe); });
        option("--probe-listen", [&](const std::string& v) { return parseProbeListen(v, c.probe); });
        option("--withdraw-silent", [&](const std::string& v) {
            auto minutes = parseNumber(v, 1, 7 * 24 * 60);
            if (minutes) c.probe.timings.withdrawSilent = std::chrono::minutes(*minutes);
            return minutes.has_value();
        });
    }

    std::vector<std::string> reversed(std::make_reverse_iterator(last),
                                      std::make_reverse_iterator(first));
    try {
        app.parse(reversed);
    } catch (const BadValue& bad) {
        return {std::nullopt, "bad value for " + bad.option + ": " + bad.value};
    } catch (const CLI::ParseError&) {
        // An option without its value: the last word, or one followed by another option.
        for (auto it = first; it != last; ++it)
            if (std::find(names.begin(), names.end(), *it) != names.end() &&
                (it + 1 == last || (it + 1)->rfind("-", 0) == 0))
                return {std::nullopt, *it + " needs a value"};
        return {std::nullopt, "unreadable command line"};
    }
    if (auto extra = app.remaining(); !extra.empty())
        return {std::nullopt, "unknown option " + extra.front().substr(0, extra.front().find('='))};
    if (last != args.end()) {
        cl.mode = *last == "--version" ? CommandLine::Mode::Version : CommandLine::Mode::Help;
        return {cl, ""};
    }
    if (cl.mode == CommandLine::Mode::Remove && (cl.removeGame.empty() || !cl.removeIp))
        return {std::nullopt, "remove needs --game " + gameIds("|") + " and --ip ADDRESS"};
    if (cl.mode == CommandLine::Mode::Client && (c.publicUrl.empty() || cl.clientOut.empty()))
        return {std::nullopt, "client needs --public-url URL and --out DIR"};
    if (!c.publicUrl.empty())
        if (auto problem = siteUrlProblem(c.publicUrl))
            return {std::nullopt, "--public-url " + c.publicUrl + ": the address " + *problem};
    return {cl, ""};
}

namespace {

// The defaults as LobbyConfig and CommandLine declare them, and the clients' file names,
// into the help text's {names}.
std::string withDefaults(std::string text) {
    const CommandLine cl;
    const LobbyConfig& d = cl.config;
    auto secondsOf = [](std::chrono::milliseconds t) {
        return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(t).count());
    };
    const std::pair<std::string, std::string> values[] = {
        {"{listen}", d.host + ":" + std::to_string(d.port)},
        {"{db}", d.dbPath},
        {"{ttl}", std::to_string(d.raceTtlSeconds / 60)},
        {"{history}", std::to_string(d.historyDays)},
        {"{races}", std::to_string(d.maxRaces)},
        {"{rate}", std::to_string(d.rateLimit)},
        {"{query}", std::to_string(d.maxQuery)},
        {"{connections}", std::to_string(d.maxConnections)},
        {"{perAddress}", std::to_string(d.maxPerAddress)},
        {"{head}", secondsOf(d.headTimeout)},
        {"{idle}", secondsOf(d.idleTimeout)},
        {"{proxyHeader}", d.proxyHeader},
        {"{clients}", d.clientsDir},
        {"{sweep}", secondsOf(d.sweepInterval)},
        {"{probe}", d.probe.enabled ? "on" : "off"},
        {"{probeListen}", d.probe.listenHost + ":" + std::to_string(d.probe.listenPort)},
        {"{seed}", std::to_string(cl.seedRaces)},
        {"{maxSeed}", std::to_string(kMaxDemoRaces)},
        {"{portable64}", std::string(kClientArchs[0].portable.name)},
        {"{portable32}", std::string(kClientArchs[1].portable.name)},
        {"{setup64}", std::string(kClientArchs[0].setup.name)},
        {"{setup32}", std::string(kClientArchs[1].setup.name)},
        {"{sums}", std::string(kChecksums.name)},
    };
    for (const auto& [name, value] : values)
        text.replace(text.find(name), name.size(), value);
    return text;
}

}  // namespace

std::string usageText() {
    const std::string games = gameIds("|");
    return withDefaults(R"(Usage: kestrun-lobby [options]
       kestrun-lobby seed [--db PATH] [--races N] [--game )" + games + R"(]
       kestrun-lobby races [--db PATH]
       kestrun-lobby remove [--db PATH] --game )" + games + R"( --ip A.B.C.D
       kestrun-lobby client --public-url URL --out DIR [--clients DIR]
       kestrun-lobby --version

Serves the Kestrun race lobby: the client's endpoint /server/server.php and the lobby's
website at /. Once the socket is bound it prints "kestrun-lobby listening on HOST:PORT"
on standard error; then one access-log line per request on standard output.
SIGINT or SIGTERM stops it; SIGHUP reads the block list again.

Options:
  --listen HOST:PORT    where to listen (default {listen}; [::]:PORT takes IPv6 and
                        IPv4 clients; port 0 picks a free port)
  --db PATH             SQLite database (default {db}; :memory: keeps nothing)
  --race-ttl MINUTES    a race disappears this long after it was announced (default {ttl})
  --history-days N      /stats's history forgets a race this long after it ended (default
                        {history}); it keeps when races were open, never who hosted them
  --max-races N         races per game (default {races})
  --rate-limit N        requests per client address per minute (default {rate}; 0: no limit)
  --max-query BYTES     longest query string accepted (default {query})
  --threads N           I/O threads; connections share them (default: one per core)
  --max-connections N   open connections at once (default {connections}; the file limit, raised
                        to its hard maximum at start, may hold fewer)
  --max-per-address N   open connections from one address, IPv6 from one /64 (default {perAddress};
                        the trusted proxy has none)
  --head-seconds N      a request's line and headers must arrive within this (default {head});
                        a kept-alive connection may wait {idle} seconds for its next request
  --trusted-proxy ADDR  the one reverse proxy whose address header is believed; without
                        it no header is believed
  --proxy-header NAME   the header in which that proxy passes the client's address
                        (default {proxyHeader}; its last item counts)
  --client-url URL      where the website tells players to get the client
  --public-url URL      the address players reach the lobby at, http://HOST[:PORT]/: the
                        lobby then offers under /download/ the Windows clients for it
                        ({portable64}, {portable32}, their installers {setup64}
                        and {setup32} when makensis is installed, {sums}),
                        made at start into the folder "clients" beside the database and
                        kept until the address or the packaged clients change
  --clients DIR         the packaged clients it makes them from (default
                        {clients})
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
  --sweep-seconds N     how often expired races are removed (default {sweep})
  --probe on|off        asks each race's host as a joining game would (default {probe}): an
                        EnumSessions datagram to UDP 47624 of the address that announced
                        it, the reply over TCP, then a connect to the game port it names;
                        the website shows what it found. off sends nothing
  --probe-allow CIDR    probes these addresses too, although loopback, private, shared,
                        link-local, multicast, documentation or reserved (a LAN party);
                        may be given several times
  --probe-app GAME=GUID asks GAME's hosts for that DirectPlay application's sessions
                        alone, e.g. NFS4={...} (default: any session; the log names the
                        GUID each game's hosts answer with)
  --probe-listen ADDR:PORT  where hosts' replies come in over TCP (default {probeListen});
                        the lobby's firewall must let that port in. Opened with the first
                        check
  --withdraw-silent MINUTES  withdraws a race whose host answered and then failed every
                        check for this long, as if its host had withdrawn it (default: never)
  --help                this text
  --version             the lobby's version

seed: writes demonstration races straight into the database: N per game (default {seed}, at
most {maxSeed}), or for the one game named. Their hosts are addresses from the documentation
blocks 192.0.2.0/24, 198.51.100.0/24 and 203.0.113.0/24, which belong to no one, so no
player's address is claimed; seeding again replaces them. They expire like any race.

races: lists every race in the database, one a line: game, host address, created (UTC),
name. remove: withdraws the race of that address from that game's list. Both work on the
database of a running lobby, which shows the change within a few seconds, as it does
seeded races.

client: writes into DIR the files that --public-url offers, for serving them elsewhere.
)");
}

}  // namespace lobby
