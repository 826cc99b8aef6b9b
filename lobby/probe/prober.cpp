#include "probe/prober.h"

#include <boost/asio.hpp>

#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "probe/schedule.h"
#include "wire/games.h"
#include "wire/text_rules.h"

namespace lobby {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using udp = asio::ip::udp;
using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(20);  // how often due checks are looked for
constexpr int kReadersPerCheck = 2;  // a host may answer once per session it runs

std::optional<std::uint32_t> ipv4Of(const asio::ip::address& address) {
    if (address.is_v4()) return address.to_v4().to_uint();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_uint();
    return std::nullopt;
}

}  // namespace

struct Attempt;
struct ReplyReader;

struct Prober::Impl {
    Impl(ProbeConfig c, Expiry expiry, std::function<std::int64_t()> clock, ProbeCounters& n,
         std::function<void(int, std::uint32_t)> w, std::function<void(const std::string&)> l)
        : config(std::move(c)), wallClock(std::move(clock)), counters(n), withdraw(std::move(w)),
          log(std::move(l)), schedule(config.timings, expiry) {}

    ProbeConfig config;
    std::function<std::int64_t()> wallClock;
    ProbeCounters& counters;
    std::function<void(int, std::uint32_t)> withdraw;
    std::function<void(const std::string&)> log;
    std::size_t readers = 0;  // replies being read; before io, whose handlers hold them

    asio::io_context io;  // before the rest: it goes last, and with it every pending handler
    asio::steady_timer tick{io}, acceptPause{io};

    mutable std::mutex mutex;  // the schedule, which any thread reads
    ProbeSchedule schedule;
    std::atomic<bool> listening{false};  // false: nothing can be checked, so nothing shows

    // The prober's thread only.
    std::optional<tcp::acceptor> acceptor;
    std::optional<udp::socket> datagrams;
    std::uint16_t replyPort = 0;
    Clock::time_point openAgainAt{};
    std::unordered_map<std::uint32_t, std::shared_ptr<Attempt>> pending;  // by address
    std::array<bool, kGames.size()> guidLogged{};
    bool ticking = false;

    void onTick();
    void wake();
    void runDue();
    bool open();
    void accept();
    void begin(const ProbeSchedule::Start& start);
    void send(const std::shared_ptr<Attempt>& attempt);
    void replied(const std::shared_ptr<Attempt>& attempt, const dplay::Session& session);
    void finish(const std::shared_ptr<Attempt>& attempt, ProbeSchedule::Result result);
};

// One check of one race: its datagrams, its window for a reply, then the game port.
struct Attempt {
    Attempt(asio::io_context& io, ProbeSchedule::Start s) : start(s), resend(io), deadline(io), game(io) {}
    ProbeSchedule::Start start;
    std::string request;
    asio::steady_timer resend, deadline;
    tcp::socket game;
    int sent = 0, readers = 0;
    bool answered = false, done = false;
};

// A TCP connection from a pending check's address: at most one reply of at most 1 KiB,
// within the check's window.
struct ReplyReader : std::enable_shared_from_this<ReplyReader> {
    ReplyReader(Prober::Impl& o, tcp::socket s, std::shared_ptr<Attempt> a)
        : owner(o), socket(std::move(s)), timer(socket.get_executor()), attempt(std::move(a)) {}
    ~ReplyReader() {
        --owner.readers;
        --attempt->readers;
    }

    Prober::Impl& owner;
    tcp::socket socket;
    asio::steady_timer timer;
    std::shared_ptr<Attempt> attempt;
    std::array<char, dplay::kMaxReply + 1> buffer{};
    std::size_t filled = 0;

    void run() {
        timer.expires_at(attempt->deadline.expiry());
        timer.async_wait([self = shared_from_this()](boost::system::error_code ec) {
            if (!ec) self->socket.close();
        });
        read();
    }

    void read() {
        socket.async_read_some(
            asio::buffer(buffer.data() + filled, buffer.size() - filled),
            [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                self->filled += n;
                self->received(ec);
            });
    }

    void received(boost::system::error_code ec) {
        std::string_view got(buffer.data(), filled);
        auto size = dplay::messageSize(got);
        bool malformed = (filled >= 4 && !size) || (size && *size > dplay::kMaxReply) ||
                         filled > dplay::kMaxReply;
        if (!malformed && size && filled >= *size) {
            timer.cancel();
            socket.close();
            auto session = dplay::parseEnumSessionsReply(got.substr(0, *size));
            if (!session) return bad();
            if (!attempt->done && !attempt->answered) owner.replied(attempt, *session);
            return;
        }
        if (malformed || ec) {
            timer.cancel();
            socket.close();
            // Cut off by the window's end is no reply at all; anything else is a bad one.
            if (ec != asio::error::operation_aborted || filled > 0) bad();
            return;
        }
        read();
    }

    void bad() { ++owner.counters.badReplies; }
};

// Ticks only while some race is scheduled: an empty lobby's prober sleeps until the next
// announcement wakes it, instead of looking 50 times a second for nothing.
void Prober::Impl::onTick() {
    ticking = true;
    tick.expires_after(kTick);
    tick.async_wait([this](boost::system::error_code ec) {
        if (!ec) runDue();
        bool empty;
        {
            std::lock_guard lock(mutex);
            empty = schedule.races() == 0;
        }
        if (ec || empty) {
            ticking = false;
            return;
        }
        onTick();
    });
}

void Prober::Impl::wake() {
    runDue();
    if (!ticking) onTick();
}

void Prober::Impl::runDue() {
    std::vector<ProbeSchedule::Start> starts;
    {
        std::lock_guard lock(mutex);
        starts = schedule.due(Clock::now(), wallClock());
        if (!starts.empty() && !open()) {
            for (const auto& start : starts)
                schedule.postpone(start, Clock::now() + config.timings.recheck);
            return;
        }
    }
    for (const auto& start : starts) begin(start);
}

// The sockets open with the first check: a lobby that never has an address to ask holds no
// port for replies. Under the schedule's lock.
bool Prober::Impl::open() {
    if (acceptor) return true;
    if (Clock::now() < openAgainAt) return false;
    std::string where = config.listenHost + ":" + std::to_string(config.listenPort);
    try {
        auto address = asio::ip::make_address(config.listenHost);
        tcp::endpoint local(address, static_cast<std::uint16_t>(config.listenPort));
        acceptor.emplace(io, local.protocol());
        acceptor->set_option(tcp::acceptor::reuse_address(true));
        acceptor->bind(local);
        acceptor->listen();
        replyPort = acceptor->local_endpoint().port();
        // From the listener's own address, where one is named, so the host's reply comes back there.
        udp::endpoint from(address.is_v4() ? address : asio::ip::address(asio::ip::address_v4::any()), 0);
        datagrams.emplace(io, udp::v4());
        datagrams->bind(from);
    } catch (const boost::system::system_error& e) {
        acceptor.reset();
        datagrams.reset();
        openAgainAt = Clock::now() + config.timings.recheck;
        log("cannot listen for probe replies on " + where + " (" + e.what() +
            "); races are not checked, tried again in a minute");
        return false;
    }
    listening = true;
    log("checking races' hosts; their replies come to TCP port " + std::to_string(replyPort) +
        " (" + where + ")");
    accept();
    return true;
}

void Prober::Impl::accept() {
    acceptor->async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor) return;
        if (ec) {  // out of descriptors, say: not a busy loop
            acceptPause.expires_after(std::chrono::milliseconds(100));
            acceptPause.async_wait([this](boost::system::error_code e) {
                if (!e) accept();
            });
            return;
        }
        boost::system::error_code ignored;
        auto from = ipv4Of(socket.remote_endpoint(ignored).address());
        auto it = from ? pending.find(*from) : pending.end();
        if (it == pending.end()) {
            ++counters.strangerReplies;  // nothing asked of that address now
        } else if (!it->second->answered && it->second->readers < kReadersPerCheck &&
                   readers < 2 * config.timings.maxInFlight) {
            ++readers;
            ++it->second->readers;
            std::make_shared<ReplyReader>(*this, std::move(socket), it->second)->run();
        }
        accept();
    });
}

void Prober::Impl::begin(const ProbeSchedule::Start& start) {
    auto attempt = std::make_shared<Attempt>(io, start);
    const auto& application = config.applications[static_cast<std::size_t>(start.game)];
    attempt->request = dplay::enumSessions(replyPort, application.value_or(dplay::Guid{}));
    pending[start.ip] = attempt;
    ++counters.sent;
    ++counters.inFlight;
    attempt->deadline.expires_after(config.timings.replyWindow);
    attempt->deadline.async_wait([this, attempt](boost::system::error_code ec) {
        if (!ec && !attempt->answered) finish(attempt, {FailedStep::Udp47624, 0, {}});
    });
    send(attempt);
}

void Prober::Impl::send(const std::shared_ptr<Attempt>& attempt) {
    if (attempt->done || attempt->answered) return;
    {
        std::lock_guard lock(mutex);
        if (!schedule.takeDatagram(attempt->start.ip, Clock::now())) return;
    }
    ++attempt->sent;
    ++counters.datagrams;
    udp::endpoint to(asio::ip::address_v4(attempt->start.ip), dplay::kEnumPort);
    datagrams->async_send_to(asio::buffer(attempt->request), to,
                             [attempt](boost::system::error_code, std::size_t) {});
    if (attempt->sent >= config.timings.datagrams) return;
    attempt->resend.expires_after(config.timings.resend);
    attempt->resend.async_wait([this, attempt](boost::system::error_code ec) {
        if (!ec) send(attempt);
    });
}

void Prober::Impl::replied(const std::shared_ptr<Attempt>& attempt, const dplay::Session& session) {
    attempt->answered = true;
    attempt->resend.cancel();
    attempt->deadline.cancel();
    auto game = static_cast<std::size_t>(attempt->start.game);
    if (!guidLogged[game]) {
        guidLogged[game] = true;
        std::string guid = dplay::formatGuid(session.application);
        std::string id(kGames[game].id);
        log(id + " hosts answer with application GUID " + guid + " (--probe-app " + id + "=" +
            guid + " asks for that game's sessions alone)");
    }
    ProbeSchedule::Result result{FailedStep::None, session.gamePort, session};
    tcp::endpoint to(asio::ip::address_v4(attempt->start.ip), session.gamePort);
    attempt->deadline.expires_after(config.timings.connectTimeout);
    attempt->deadline.async_wait([attempt](boost::system::error_code ec) {
        if (!ec) attempt->game.close();
    });
    attempt->game.async_connect(to, [this, attempt, result](boost::system::error_code ec) mutable {
        if (ec) result.failed = FailedStep::GamePort;
        finish(attempt, std::move(result));
    });
}

void Prober::Impl::finish(const std::shared_ptr<Attempt>& attempt, ProbeSchedule::Result result) {
    if (attempt->done) return;
    attempt->done = true;
    attempt->resend.cancel();
    attempt->deadline.cancel();
    boost::system::error_code ignored;
    attempt->game.close(ignored);
    auto it = pending.find(attempt->start.ip);
    if (it != pending.end() && it->second == attempt) pending.erase(it);
    bool silent;
    {
        std::lock_guard lock(mutex);
        silent = schedule.finished(attempt->start, result, Clock::now(), wallClock());
    }
    // Counted once the result shows.
    --counters.inFlight;
    if (result.failed == FailedStep::None) ++counters.answered;
    else if (result.failed == FailedStep::Udp47624) ++counters.failedUdp47624;
    else ++counters.failedGamePort;
    if (!silent) return;
    ++counters.withdrawnSilent;
    auto game = static_cast<std::size_t>(attempt->start.game);
    log("withdrawing the " + std::string(kGames[game].id) + " race of " + formatIp(attempt->start.ip) +
        ": it answered, then failed every check for " +
        std::to_string(std::chrono::duration_cast<std::chrono::minutes>(config.timings.withdrawSilent).count()) +
        " minutes (--withdraw-silent)");
    withdraw(attempt->start.game, attempt->start.ip);
}

Prober::Prober(ProbeConfig config, Expiry expiry, std::function<std::int64_t()> wallClock, ProbeCounters& counters,
               std::function<void(int, std::uint32_t)> withdraw,
               std::function<void(const std::string&)> log)
    : impl_(std::make_unique<Impl>(std::move(config), expiry, std::move(wallClock), counters,
                                   std::move(withdraw), std::move(log))) {}

Prober::~Prober() = default;

void Prober::run() {
    Impl& d = *impl_;
    if (!d.config.enabled) return;
    auto work = asio::make_work_guard(d.io);  // sleeping between races, it waits for the next
    d.onTick();
    d.io.run();
}

void Prober::stop() { impl_->io.stop(); }

void Prober::announced(int game, std::uint32_t ip, std::int64_t created) {
    Impl& d = *impl_;
    if (!d.config.enabled) return;
    if (!mayProbe(ip, d.config.allowed)) {
        ++d.counters.refusedByRange;
        std::lock_guard lock(d.mutex);
        d.schedule.withdrawn(game, ip);  // an address that was allowed before a restart is not
        return;
    }
    {
        std::lock_guard lock(d.mutex);
        d.schedule.announced(game, ip, created, Clock::now());
    }
    asio::post(d.io, [&d] { d.wake(); });
}

void Prober::gone(int game, std::uint32_t ip) {
    Impl& d = *impl_;
    if (!d.config.enabled) return;
    std::lock_guard lock(d.mutex);
    d.schedule.withdrawn(game, ip);
}

Check Prober::of(int game, std::uint32_t ip) const {
    const Impl& d = *impl_;
    if (!d.config.enabled || !d.listening) return Check{};
    std::lock_guard lock(d.mutex);
    return d.schedule.of(game, ip);
}

bool Prober::checkAgain(std::uint32_t ip, std::int64_t now) {
    Impl& d = *impl_;
    if (!d.config.enabled || !d.listening) return false;
    bool accepted;
    {
        std::lock_guard lock(d.mutex);
        accepted = d.schedule.checkAgain(ip, now);
    }
    if (accepted) asio::post(d.io, [&d] { d.wake(); });
    return accepted;
}

}  // namespace lobby
