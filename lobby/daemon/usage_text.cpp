// The help text, with the defaults and file names taken from where they are declared.
#include "daemon/options.h"

#include <chrono>
#include <string>
#include <utility>

#include "clients/client_files.h"
#include "races/race_store.h"

namespace lobby {
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
