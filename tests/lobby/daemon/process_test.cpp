// The real kestrun-lobby binary as a child process: start-up, failures, signals, seeding,
// and a kill -9 in the middle of a write load.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "poll_until.h"
#include "lobby_fixture.h"
#include "read_file.h"
#include "stand_in_clients.h"
#include "wire/site_slot.h"

namespace {

using namespace std::chrono_literals;

// kestrun-lobby with the given arguments; stderr is read through a pipe, stdout goes to a
// file. Killed by its PID if still running at the end.
class LobbyProcess {
public:
    explicit LobbyProcess(const std::vector<std::string>& args,
                          const std::string& stdoutPath = "/dev/null") {
        std::vector<std::string> argv = {KESTRUN_LOBBY_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);

        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(pipeFds[1], 2);
            ::dup2(out, 1);
            ::execv(cargv[0], cargv.data());
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        ::close(out);
        stderr_ = pipeFds[0];
    }
    ~LobbyProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(stderr_);
    }

    // The port of the "listening on" line, or -1 if the process did not get that far.
    int waitForPort() {
        const std::string marker = "kestrun-lobby listening on ";
        int port = -1;
        bool closed = false;
        pollUntil(
            [&] {
                std::size_t at = errors_.find(marker);
                std::size_t end = at == std::string::npos ? at : errors_.find('\n', at);
                if (end != std::string::npos) port = std::atoi(errors_.c_str() + errors_.rfind(':', end) + 1);
                return port >= 0 || closed;
            },
            20s, [&] { closed = !readErrors(100); });
        return port;
    }

    // Exit code, 128 + signal number if killed, or -1 on timeout.
    int waitForExit(std::chrono::milliseconds timeout = 20s) {
        int status = 0;
        if (!pollUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout, [this] { readErrors(5); }))
            return -1;
        exited_ = true;
        while (readErrors(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    void signal(int number) { ::kill(pid_, number); }
    const std::string& errors() const { return errors_; }

private:
    // False once stderr is closed.
    bool readErrors(int timeoutMs) {
        pollfd p{stderr_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return true;
        char chunk[4096];
        ssize_t n = ::read(stderr_, chunk, sizeof chunk);
        if (n <= 0) return false;
        errors_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int stderr_ = -1;
    bool exited_ = false;
    std::string errors_;
};


int countLines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(LobbyProcess, ServesUntilSigtermAndLogsEachRequest) {
    TempDir dir;
    LobbyProcess lobby({"--listen", "127.0.0.1:0", "--db", dir.file("l.db")}, dir.file("out"));
    int port = lobby.waitForPort();
    ASSERT_GT(port, 0) << lobby.errors();
    EXPECT_EQ(httpGet(port, "/server/server.php?action=getip").body, "OK\n127.0.0.1\n");
    EXPECT_EQ(httpGet(port, "/server/server.php?action=racelist&game=NFS4").status, 200);
    lobby.signal(SIGTERM);
    EXPECT_EQ(lobby.waitForExit(), 0) << lobby.errors();
    std::string log = readFile(dir.file("out"));
    EXPECT_EQ(countLines(log), 2) << log;
    EXPECT_NE(log.find("127.0.0.1 \"GET /server/server.php?action=getip\" 200"), std::string::npos);
}

TEST(LobbyProcess, SigintStopsItToo) {
    TempDir dir;
    LobbyProcess lobby({"--listen", "127.0.0.1:0", "--db", ":memory:"});
    ASSERT_GT(lobby.waitForPort(), 0) << lobby.errors();
    lobby.signal(SIGINT);
    EXPECT_EQ(lobby.waitForExit(), 0) << lobby.errors();
}

// `systemctl reload` on a lobby without a block list must not stop it.
TEST(LobbyProcess, SighupWithoutBlockListIsReportedAndIgnored) {
    LobbyProcess lobby({"--listen", "127.0.0.1:0", "--db", ":memory:"});
    int port = lobby.waitForPort();
    ASSERT_GT(port, 0) << lobby.errors();
    lobby.signal(SIGHUP);
    EXPECT_TRUE(pollUntil([&] { return lobby.waitForExit(50ms) == -1 &&
                                       lobby.errors().find("nothing to re-read") != std::string::npos; }))
        << lobby.errors();
    EXPECT_EQ(httpGet(port, "/server/server.php?action=getip").body, "OK\n127.0.0.1\n");
}

TEST(LobbyProcess, StartUpFailuresAreExplainedAndEndTheProcess) {
    TempDir dir;
    LobbyProcess first({"--listen", "127.0.0.1:0", "--db", ":memory:"});
    int port = first.waitForPort();
    ASSERT_GT(port, 0);
    std::ofstream(dir.file("text.db")) << "this is not a database, just some text to fill a page\n"
                                       << std::string(2000, 'x');

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string says;
    } cases[] = {
        {{"--listen", "127.0.0.1:" + std::to_string(port), "--db", ":memory:"}, 1,
         "cannot listen on 127.0.0.1:" + std::to_string(port)},
        {{"--listen", "127.0.0.1:0", "--db", dir.file("text.db")}, 1, "cannot open database"},
        {{"--listen", "127.0.0.1:0", "--db", dir.file("no/such/dir/l.db")}, 1,
         "cannot open database"},
        {{"--listen", "nonsense"}, 2, "bad value for --listen"},
        {{"--frobnicate"}, 2, "unknown option --frobnicate"},
        {{"--listen", "127.0.0.1:0", "--db", ":memory:", "--block-list", dir.file("bad.txt")}, 1,
         "line 2: "},
    };
    std::ofstream(dir.file("bad.txt")) << "192.0.2.1\n192.0.2.0/40\n";
    for (const Case& c : cases) {
        LobbyProcess second(c.args);
        EXPECT_EQ(second.waitForExit(), c.exitCode) << c.says;
        EXPECT_NE(second.errors().find(c.says), std::string::npos) << second.errors();
        EXPECT_EQ(second.errors().find("listening"), std::string::npos) << second.errors();
    }
}

TEST(LobbyProcess, HelpDescribesTheOptionsAndSeeding) {
    TempDir dir;
    LobbyProcess help({"--help"}, dir.file("out"));
    EXPECT_EQ(help.waitForExit(), 0);
    std::string text = readFile(dir.file("out"));
    for (const char* option : {"--listen", "--db", "--race-ttl", "--trusted-proxy", "seed",
                               "192.0.2.0/24"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
}

TEST(LobbyProcess, SeedWritesDemonstrationRacesForDocumentationAddresses) {
    TempDir dir;
    std::string db = dir.file("l.db");
    LobbyProcess seed({"seed", "--db", db, "--races", "300", "--game", "NFS5"});
    ASSERT_EQ(seed.waitForExit(), 0) << seed.errors();

    LobbyProcess lobby({"--listen", "127.0.0.1:0", "--db", db});
    int port = lobby.waitForPort();
    ASSERT_GT(port, 0) << lobby.errors();
    EXPECT_EQ(countLines(httpGet(port, "/server/server.php?action=racelist&game=NFS4").body), 3);
    std::string list = httpGet(port, "/server/server.php?action=racelist&game=NFS5").body;
    ASSERT_EQ(countLines(list), 3 + 300) << list.substr(0, 200);
    std::istringstream lines(list);
    std::string line;
    for (int i = 0; i < 3; ++i) std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::uint32_t ip = static_cast<std::uint32_t>(std::stoul(line.substr(line.find(',') + 1)));
        std::uint32_t block = ip & 0xFFFFFF00u;
        EXPECT_TRUE(block == 0xC0000200u || block == 0xC6336400u || block == 0xCB007100u) << line;
    }
}

// A host moderating a running lobby: SIGHUP re-reads the block list (a broken one is
// reported and changes nothing), and `remove` on its database shows in the next lists.
TEST(LobbyProcess, HostModeratesARunningLobby) {
    TempDir dir;
    std::string db = dir.file("l.db"), blocked = dir.file("blocked.txt");
    std::ofstream(blocked) << "# nothing yet\n";
    LobbyProcess lobby({"--listen", "127.0.0.1:0", "--db", db, "--block-list", blocked,
                        "--rate-limit", "0"});
    int port = lobby.waitForPort();
    ASSERT_GT(port, 0) << lobby.errors();
    auto announce = [port](const std::string& name, int fourth) {
        return httpGet(port, "/server/server.php?" + raceAddQuery("NFS4", name, loopbackDecimal(0, fourth)),
                       loopbackSource(0, fourth)).body;
    };
    auto list = [port] { return httpGet(port, "/server/server.php?action=racelist&game=NFS4").body; };
    ASSERT_EQ(announce("Nasty", 7), "OK\n");
    ASSERT_EQ(announce("Kept", 8), "OK\n");

    std::ofstream(blocked) << "word: nasty\n";
    lobby.signal(SIGHUP);
    EXPECT_TRUE(pollUntil([&] { return announce("NASTY2", 9) != "OK\n"; }));
    std::ofstream(blocked) << "word: nasty\nnot an entry\n";
    lobby.signal(SIGHUP);
    EXPECT_TRUE(pollUntil([&] { return lobby.waitForExit(50ms) == -1 &&
                                       lobby.errors().find("line 2: ") != std::string::npos; }));
    EXPECT_NE(announce("nasty3", 9), "OK\n");  // the previous list still holds

    LobbyProcess remove({"remove", "--db", db, "--game", "NFS4", "--ip", "127.0.0.7"});
    EXPECT_EQ(remove.waitForExit(), 0) << remove.errors();
    EXPECT_TRUE(pollUntil([&] { return list().find("Nasty") == std::string::npos; })) << list();
    EXPECT_NE(list().find("Kept"), std::string::npos);
    LobbyProcess again({"remove", "--db", db, "--game", "NFS4", "--ip", "127.0.0.7"});
    EXPECT_EQ(again.waitForExit(), 1);
}

// Writers announce races from many loopback addresses while the lobby is killed with
// SIGKILL; every race that was answered "OK" must be in the database afterwards, and the
// database must be intact.
TEST(LobbyProcess, KillNineUnderWriteLoadLosesNoConfirmedRace) {
    TempDir dir;
    std::string db = dir.file("l.db");
    auto lobby = std::make_unique<LobbyProcess>(std::vector<std::string>{
        "--listen", "127.0.0.1:0", "--db", db, "--rate-limit", "0", "--threads", "8"});
    int port = lobby->waitForPort();
    ASSERT_GT(port, 0) << lobby->errors();

    constexpr int kWriters = 4, kAddressesEach = 25;
    struct Key {
        std::string game;
        std::uint32_t ip;
        bool operator<(const Key& o) const { return std::tie(game, ip) < std::tie(o.game, o.ip); }
    };
    std::vector<std::map<Key, int>> confirmed(kWriters);  // the last confirmed sequence number
    std::atomic<int> confirmedCount{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int seq = 0; !stop; ++seq) {
                int host = 1 + seq % kAddressesEach;
                std::string game = (seq / kAddressesEach) % 2 ? "NFS5" : "NFS4";
                std::string source = loopbackSource(w + 1, host);
                std::string ip = loopbackDecimal(w + 1, host);
                std::string name = "w" + std::to_string(w) + "n" + std::to_string(seq);
                HttpReply reply = httpGet(port, "/server/server.php?" + raceAddQuery(game, name, ip), source);
                if (reply.body == "OK\n") {
                    confirmed[static_cast<std::size_t>(w)][Key{game, static_cast<std::uint32_t>(
                                                                         std::stoul(ip))}] = seq;
                    ++confirmedCount;
                }
            }
        });
    }
    bool loaded = pollUntil([&] { return confirmedCount >= 400; }, 120s);
    lobby->signal(SIGKILL);
    EXPECT_EQ(lobby->waitForExit(), 128 + SIGKILL);
    stop = true;
    for (auto& t : writers) t.join();
    ASSERT_TRUE(loaded) << "only " << confirmedCount << " races confirmed";

    sqlite3* conn = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db.c_str(), &conn, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(conn, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);

    sqlite3_stmt* find = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(conn, "SELECT name FROM races WHERE game = ?1 AND ip = ?2", -1,
                                 &find, nullptr),
              SQLITE_OK);
    int checked = 0;
    for (int w = 0; w < kWriters; ++w) {
        for (const auto& [key, seq] : confirmed[static_cast<std::size_t>(w)]) {
            sqlite3_reset(find);
            sqlite3_bind_text(find, 1, key.game.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(find, 2, key.ip);
            ASSERT_EQ(sqlite3_step(find), SQLITE_ROW) << key.game << " " << key.ip;
            std::string name = reinterpret_cast<const char*>(sqlite3_column_text(find, 0));
            // A later add may have been committed without its answer arriving.
            std::string prefix = "w" + std::to_string(w) + "n";
            ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
            EXPECT_GE(std::stoi(name.substr(prefix.size())), seq) << name;
            ++checked;
        }
    }
    sqlite3_finalize(find);
    sqlite3_close(conn);
    EXPECT_EQ(checked, kWriters * kAddressesEach * 2);

    // And the lobby starts again on that database and lists the races.
    lobby = std::make_unique<LobbyProcess>(
        std::vector<std::string>{"--listen", "127.0.0.1:0", "--db", db});
    port = lobby->waitForPort();
    ASSERT_GT(port, 0) << lobby->errors();
    std::string list = httpGet(port, "/server/server.php?action=racelist&game=NFS4").body;
    EXPECT_EQ(countLines(list), 3 + kWriters * kAddressesEach) << list.substr(0, 200);
    lobby->signal(SIGTERM);
    EXPECT_EQ(lobby->waitForExit(), 0);
}

}  // namespace

// Slow-header clients and idle connections from many addresses, and one address far past
// its cap: another address is still answered, the trickles are cut at the head deadline,
// and the lobby stops cleanly with all of them open.
TEST(LobbyProcess, HostileTrafficLeavesOtherAddressesServed) {
    TempDir dir;
    LobbyProcess lobby({"--listen", "127.0.0.1:0", "--db", dir.file("l.db"), "--max-per-address",
                        "20", "--head-seconds", "2"});
    int port = lobby.waitForPort();
    ASSERT_GT(port, 0) << lobby.errors();
    const auto source = loopbackSource;
    std::vector<std::unique_ptr<HeldConnection>> slow, idle, flood;
    for (int a = 0; a < 40; ++a)
        for (int i = 0; i < 20; ++i) {
            slow.push_back(std::make_unique<HeldConnection>(port, source(10, a + 1), "GET /serv"));
            idle.push_back(std::make_unique<HeldConnection>(port, source(11, a + 1)));
        }
    for (int i = 0; i < 200; ++i)
        flood.push_back(std::make_unique<HeldConnection>(port, source(12, 1)));

    auto answered = [&](int n) {
        for (int i = 0; i < 20; ++i)
            if (httpGet(port, "/server/server.php?action=getip", source(20, n)).body !=
                "OK\n" + source(20, n) + "\n")
                return false;
        return true;
    };
    EXPECT_TRUE(answered(1));
    // Past its cap an address is closed at once, before it may send anything.
    std::size_t cut = 0;
    EXPECT_TRUE(pollUntil([&] {
        cut = std::count_if(flood.begin(), flood.end(), [](auto& c) { return c->closedByServer(); });
        return cut >= 180;
    })) << cut;
    // A byte every 300 ms does not keep a request head alive past its deadline.
    auto trickleStart = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - trickleStart < 3500ms) {
        for (int i = 0; i < 20; ++i) slow[static_cast<std::size_t>(i)]->send("e");
        std::this_thread::sleep_for(300ms);
    }
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(slow[static_cast<std::size_t>(i)]->closedByServer()) << i;
    EXPECT_TRUE(answered(2));

    lobby.signal(SIGTERM);
    EXPECT_EQ(lobby.waitForExit(), 0) << lobby.errors();
}

// --public-url: the clients are made once per address, served with the website's links, and
// the host's own file of the same name wins; an address the client cannot hold stops it.
TEST(LobbyProcess, PublicUrlServesClientsMadeOncePerAddress) {
    TempDir dir;
    writeStandInClients(dir.file("share"));
    std::filesystem::create_directory(dir.file("own"));
    std::ofstream(dir.file("own/kestrun-x86.exe")) << "the host's own";
    auto serve = [&](const std::string& url, const std::function<void(int port)>& check) {
        LobbyProcess lobby({"--listen", "127.0.0.1:0", "--db", dir.file("l.db"), "--public-url", url,
                            "--clients", dir.file("share"), "--downloads", dir.file("own")});
        int port = lobby.waitForPort();
        EXPECT_GT(port, 0) << lobby.errors();
        if (port > 0) check(port);
        lobby.signal(SIGTERM);
        EXPECT_EQ(lobby.waitForExit(), 0) << lobby.errors();
        return lobby.errors();
    };
    auto servedSlot = [](int port) {
        std::string body = httpGet(port, "/download/kestrun.exe").body;
        std::size_t at = body.find(KESTRUN_SITE_SLOT_MARKER);
        return at == std::string::npos ? "" : std::string(body.c_str() + at + kSiteSlotMarkerSize);
    };
    std::string first = serve("http://lobby.example.org:8081/", [&](int port) {
        EXPECT_EQ(servedSlot(port), "http://lobby.example.org:8081/");
        EXPECT_EQ(httpGet(port, "/download/kestrun-x86.exe").body, "the host's own");
        std::string page = httpGet(port, "/").body;
        for (const char* name : {"kestrun.exe", "kestrun-x86.exe", "kestrun-setup.exe", "SHA256SUMS"})
            EXPECT_NE(page.find(std::string("href=\"/download/") + name + "\""), std::string::npos) << name;
        EXPECT_EQ(httpGet(port, "/download/.stamp").status, 404);
    });
    EXPECT_NE(first.find("clients for http://lobby.example.org:8081/ made"), std::string::npos) << first;
    std::string second = serve("http://lobby.example.org:8081/", [](int) {});
    EXPECT_NE(second.find("clients for http://lobby.example.org:8081/ reused"), std::string::npos) << second;
    std::string moved = serve("http://lobby.example.net/", [&](int port) {
        EXPECT_EQ(servedSlot(port), "http://lobby.example.net/");
    });
    EXPECT_NE(moved.find("clients for http://lobby.example.net/ made"), std::string::npos) << moved;

    for (const std::string& bad : {std::string("https://lobby.example.org/"), std::string("http://lobby.example.org"),
                                   "http://a/" + std::string(250, 'b') + "/"}) {
        LobbyProcess lobby({"--listen", "127.0.0.1:0", "--db", dir.file("l.db"), "--public-url", bad});
        EXPECT_EQ(lobby.waitForExit(), 2) << bad;
        EXPECT_NE(lobby.errors().find("--public-url " + bad + ": the address "), std::string::npos) << lobby.errors();
    }
}
