// kestrun-lobby: the race lobby daemon, and its subcommands that work on its database.
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "daemon/lobby_server.h"
#include "daemon/options.h"
#include "races/race_store.h"
#include "site/escaping.h"
#include "site/website.h"
#include "wire/text_rules.h"

namespace {

using namespace lobby;

int seed(const CommandLine& cl) {
    try {
        RaceStore store(cl.config.dbPath);
        for (const std::string& game : cl.seedGames) {
            store.put(game, demoRaces(cl.seedRaces, cl.config.clock()));
            std::printf("kestrun-lobby: seeded %d demonstration races for %s in %s\n",
                        cl.seedRaces, game.c_str(), cl.config.dbPath.c_str());
        }
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kestrun-lobby: cannot seed %s: %s\n", cl.config.dbPath.c_str(),
                     e.what());
        return 1;
    }
    return 0;
}

int listRaces(const CommandLine& cl) {
    try {
        RaceStore store(cl.config.dbPath);
        for (const GameInfo& game : kGames)
            for (const Race& race : store.list(game.id, std::numeric_limits<std::int64_t>::min()))
                std::printf("%s\t%s\t%s\t%s\n", std::string(game.id).c_str(), formatIp(race.ip).c_str(),
                            isoUtc(race.created).c_str(), escapeForLog(race.name, 64).c_str());
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kestrun-lobby: cannot read %s: %s\n", cl.config.dbPath.c_str(),
                     e.what());
        return 1;
    }
    return 0;
}

int removeRace(const CommandLine& cl) {
    std::string address = formatIp(*cl.removeIp);
    try {
        RaceStore store(cl.config.dbPath);
        if (!store.remove(cl.removeGame, *cl.removeIp, cl.config.clock())) {
            std::fprintf(stderr, "kestrun-lobby: %s has no %s race in %s\n", address.c_str(),
                         cl.removeGame.c_str(), cl.config.dbPath.c_str());
            return 1;
        }
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kestrun-lobby: cannot change %s: %s\n", cl.config.dbPath.c_str(),
                     e.what());
        return 1;
    }
    std::printf("kestrun-lobby: removed the %s race of %s\n", cl.removeGame.c_str(),
                address.c_str());
    return 0;
}

// The clients for --public-url, or for `client --out`; the log says what is offered and why
// anything is not.
bool makeClients(const LobbyConfig& config, ClientBuildsConfig builds, ClientBuilds& made) {
    builds.publicUrl = config.publicUrl;
    builds.clientsDir = config.clientsDir;
    builds.version = KESTRUN_VERSION;
    auto start = std::chrono::steady_clock::now();
    try {
        made = makeClientBuilds(builds);
    } catch (const ClientBuildsError& e) {
        std::fprintf(stderr, "kestrun-lobby: cannot make the clients for %s: %s\n", config.publicUrl.c_str(),
                     e.what());
        return false;
    }
    for (const std::string& note : made.notes) std::fprintf(stderr, "kestrun-lobby: %s\n", note.c_str());
    std::string names;
    for (const std::string& name : made.files) names += " " + name;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::fprintf(stderr, "kestrun-lobby: clients for %s %s in %s (%lld ms):%s\n", config.publicUrl.c_str(),
                 made.fromCache ? "reused" : "made", builds.outDir.c_str(), static_cast<long long>(ms.count()),
                 names.c_str());
    return true;
}

int writeClients(const CommandLine& cl) {
    ClientBuildsConfig builds;
    builds.outDir = cl.clientOut;
    builds.cache = false;
    ClientBuilds made;
    return makeClients(cl.config, builds, made) ? 0 : 1;
}

int serve(CommandLine& cl) {
    LobbyConfig& config = cl.config;
    config.stopOnSignals = true;
    signal(SIGPIPE, SIG_IGN);
    // Every connection is a file descriptor: take what the system allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    std::mutex logMutex;
    config.accessLog = [&logMutex](const std::string& line) {
        std::lock_guard lock(logMutex);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };

    if (!config.publicUrl.empty()) {
        // The one place the hardened service may write: beside its database.
        ClientBuildsConfig builds;
        builds.outDir =
            (std::filesystem::absolute(config.dbPath).parent_path() / "clients").string();
        ClientBuilds made;
        if (!makeClients(config, builds, made)) return 1;
        config.clientBuildsDir = builds.outDir;
        config.clientBuilds = made.files;
    }

    std::string where = (config.host.find(':') != std::string::npos ? "[" + config.host + "]"
                                                                      : config.host);
    std::unique_ptr<LobbyServer> server;
    try {
        server = std::make_unique<LobbyServer>(config);
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kestrun-lobby: cannot open database %s: %s\n",
                     config.dbPath.c_str(), e.what());
        return 1;
    } catch (const BlockListError& e) {
        std::fprintf(stderr, "kestrun-lobby: block list %s: %s\n", config.blockListPath.c_str(),
                     e.what());
        return 1;
    } catch (const NotifyError& e) {
        std::fprintf(stderr, "kestrun-lobby: %s\n", e.what());
        return 1;
    } catch (const DownloadsError& e) {
        std::fprintf(stderr, "kestrun-lobby: %s\n", e.what());
        return 1;
    }
    int port = 0;
    try {
        port = server->bind();
    } catch (const BindError& e) {
        std::fprintf(stderr, "kestrun-lobby: cannot listen on %s:%d: %s\n", where.c_str(),
                     config.port, e.what());
        return 1;
    }
    std::fprintf(stderr, "kestrun-lobby listening on %s:%d\n", where.c_str(), port);
    if (config.probe.enabled)
        std::fprintf(stderr, "kestrun-lobby: races' hosts are asked as a joining game would; their "
                             "replies come to TCP %s:%d, opened with the first check\n",
                     config.probe.listenHost.c_str(), config.probe.listenPort);
    std::fflush(stderr);

    server->run();
    server.reset();
    std::fprintf(stderr, "kestrun-lobby stopped\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    auto parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.commandLine) {
        std::fprintf(stderr, "kestrun-lobby: %s\nTry 'kestrun-lobby --help'.\n",
                     parsed.error.c_str());
        return 2;
    }
    CommandLine& cl = *parsed.commandLine;
    switch (cl.mode) {
    case CommandLine::Mode::Help:
        std::fputs(usageText().c_str(), stdout);
        return 0;
    case CommandLine::Mode::Version:
        std::printf("kestrun-lobby %s\n", KESTRUN_VERSION);
        return 0;
    case CommandLine::Mode::Seed:
        return seed(cl);
    case CommandLine::Mode::Races:
        return listRaces(cl);
    case CommandLine::Mode::Remove:
        return removeRace(cl);
    case CommandLine::Mode::Client:
        return writeClients(cl);
    case CommandLine::Mode::Serve:
        break;
    }
    return serve(cl);
}
