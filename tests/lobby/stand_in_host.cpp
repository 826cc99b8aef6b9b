#include "stand_in_host.h"

#include <boost/asio.hpp>

#include <array>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using udp = asio::ip::udp;

static void put(std::string& out, std::uint32_t v, int bytes) {  // little-endian
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

std::string enumSessionsReply(const StandInSession& s, std::uint16_t gamePort) {
    std::string body;
    put(body, 80, 4);                      // the description's size
    put(body, s.password ? 0x400 : 0, 4);  // flags
    body += std::string("\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff\x01", 16);  // instance
    body += std::string("\x0b\xa5\x52\xa0\xe0\xff\x11\xcf\x9c\x4e\x00\xa0\xc9\x05\x42\x5e", 16);  // application
    put(body, s.maxPlayers, 4);
    put(body, s.players, 4);
    body.append(32, '\0');     // two pointers, reserved, user data
    put(body, 8 + 80 + 4, 4);  // the name's offset, from the signature
    for (char c : s.name + '\0') put(body, static_cast<unsigned char>(c), 2);
    std::string m;
    put(m, static_cast<std::uint32_t>(28 + body.size()) | 0xFABu << 20, 4);
    put(m, 2 | static_cast<std::uint32_t>(gamePort >> 8 | (gamePort & 0xff) << 8) << 16, 4);  // AF_INET, port
    m.append(12, '\0');
    put(m, 0x79616c70, 4);  // "play"
    put(m, 1 | 14 << 16, 4);  // command 1, version 14
    return m + body;
}

struct Host {
    Host(asio::io_context& io, std::uint32_t address)
        : ip(address), datagrams(io, udp::endpoint(asio::ip::address_v4(address), 47624)),
          game(io, tcp::endpoint(asio::ip::address_v4(address), 0)), port(game.local_endpoint().port()) {}
    std::uint32_t ip;
    udp::socket datagrams;
    tcp::acceptor game;
    std::uint16_t port;
    HostBehaviour behaviour = HostBehaviour::Answer;
    StandInSession session;
    std::vector<StandInHosts::Time> requests;
    std::array<char, 2048> buffer{};
    udp::endpoint from;
};

struct StandInHosts::Impl {
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{io.get_executor()};
    std::chrono::milliseconds late{};
    mutable std::mutex mutex;
    std::deque<Host> hosts;
    std::thread thread;

    void receive(Host& h) {
        h.datagrams.async_receive_from(asio::buffer(h.buffer), h.from, [this, &h](auto ec, std::size_t n) {
            if (ec) return;
            std::lock_guard lock(mutex);
            h.requests.push_back(std::chrono::steady_clock::now());
            auto to = h.from.address();
            if (n >= 8 && h.behaviour != HostBehaviour::Silent && to.is_v4() && to.to_v4().to_uint() >> 24 == 127)
                answer(h, tcp::endpoint(to, static_cast<std::uint16_t>(static_cast<unsigned char>(h.buffer[6]) << 8 |
                                                                      static_cast<unsigned char>(h.buffer[7]))));
            receive(h);
        });
    }

    void answer(Host& h, tcp::endpoint to) {
        auto reply = std::make_shared<std::string>(enumSessionsReply(h.session, h.port));
        if (h.behaviour == HostBehaviour::Garbage) *reply = std::string(60, 'x');
        if (h.behaviour == HostBehaviour::Oversized) *reply = enumSessionsReply({std::string(700, 'o')}, h.port);
        std::uint32_t source = h.behaviour == HostBehaviour::FromElsewhere ? h.ip ^ 0x80 : h.ip;
        auto socket = std::make_shared<tcp::socket>(io, tcp::endpoint(asio::ip::address_v4(source), 0));
        auto timer = std::make_shared<asio::steady_timer>(io, h.behaviour == HostBehaviour::Late ? late : late * 0);
        timer->async_wait([socket, timer, reply, to](auto) {
            socket->async_connect(to, [socket, reply](auto ec) {
                if (!ec) asio::async_write(*socket, asio::buffer(*reply), [socket, reply](auto, auto) {});
            });
        });
    }

    void acceptGame(Host& h) {  // and closes at once: a connect is all the prober asks
        h.game.async_accept([this, &h](auto ec, tcp::socket) { if (!ec) acceptGame(h); });
    }
};

StandInHosts::StandInHosts(std::chrono::milliseconds late) : impl_(std::make_unique<Impl>()) {
    impl_->late = late;
    impl_->thread = std::thread([this] { impl_->io.run(); });
}

StandInHosts::~StandInHosts() {
    impl_->io.stop();
    impl_->thread.join();
}

int StandInHosts::add(std::uint32_t first) {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    for (std::uint32_t ip = first; ip >> 24 == 127; ++ip) {
        try {
            Host& h = d.hosts.emplace_back(d.io, ip);
            asio::post(d.io, [&d, &h] {
                d.receive(h);
                d.acceptGame(h);
            });
            return static_cast<int>(d.hosts.size() - 1);
        } catch (const boost::system::system_error&) {  // taken: the next one
        }
    }
    throw std::runtime_error("no free loopback address for a stand-in host");
}

std::uint32_t StandInHosts::ip(int host) const { return impl_->hosts.at(static_cast<std::size_t>(host)).ip; }
std::uint16_t StandInHosts::gamePort(int host) const { return impl_->hosts.at(static_cast<std::size_t>(host)).port; }

void StandInHosts::set(int host, HostBehaviour behaviour, StandInSession session) {
    std::lock_guard lock(impl_->mutex);
    Host& h = impl_->hosts.at(static_cast<std::size_t>(host));
    h.behaviour = behaviour;
    h.session = std::move(session);
    if (behaviour == HostBehaviour::GamePortClosed) asio::post(impl_->io, [&h] { h.game.close(); });
}

std::vector<StandInHosts::Time> StandInHosts::requests(int host) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->hosts.at(static_cast<std::size_t>(host)).requests;
}

std::uint32_t randomLoopbackBlock() {
    std::random_device seed;
    return 127u << 24 | std::uniform_int_distribution<std::uint32_t>(16, 250)(seed) << 16 | 1;
}
