#include "http/http_server.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/status.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "http/connection_counts.h"
#include "http/peer_address.h"
#include "http/request_line.h"

namespace lobby {
namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;
using boost::system::error_code;

namespace {

// At most this much of what a refused client still sends is read (and dropped) before the
// connection closes, so that the refusal reaches it instead of a reset.
constexpr std::size_t kLingerBytes = 64 * 1024;
constexpr std::chrono::milliseconds kLingerTime{1000};
constexpr std::chrono::milliseconds kAcceptPause{100};

PeerAddress peerOf(const net::ip::address& address) {
    if (address.is_v4()) return ipv4Peer(address.to_v4().to_uint());
    return ipv6Peer(address.to_v6().to_bytes());
}

bool isOutOfDescriptors(const error_code& ec) {
    int e = ec.value();
    return ec.category() == boost::system::system_category() &&
           (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM);
}

}  // namespace

HttpResponse HttpResponse::text(int status, std::string body) {
    HttpResponse r;
    r.status = status;
    r.body = std::make_shared<const std::string>(std::move(body));
    return r;
}

struct HttpServer::Impl {
    Impl(HttpHandler& h, HttpLimits l) : handler(h), limits(std::move(l)) {}

    HttpHandler& handler;
    const HttpLimits limits;
    HttpCounters counters;
    ConnectionCounts connections{limits, counters};

    // One event loop per I/O thread, as nginx has one per worker: a connection lives on one
    // loop and its handlers never meet another thread's. After the counts above, so that the
    // loops go before them: destroying a loop ends its sessions, which give their address's
    // count back. The acceptor below uses the first loop and goes before it.
    std::vector<std::unique_ptr<net::io_context>> loops = makeLoops(limits.threads);
    std::size_t nextLoop = 0;
    net::io_context& ioc = *loops.front();  // the acceptor's
    tcp::acceptor acceptor{ioc};
    net::steady_timer acceptPause{acceptor.get_executor()};

    static std::vector<std::unique_ptr<net::io_context>> makeLoops(int threads) {
        int n = threads > 0 ? threads
                            : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        std::vector<std::unique_ptr<net::io_context>> loops;
        for (int i = 0; i < n; ++i) loops.push_back(std::make_unique<net::io_context>(1));
        return loops;
    }

    bool admit(const AddressKey& key) { return connections.admit(key); }
    void release(const AddressKey& key) { connections.release(key); }

    void accept();
};

namespace {

class Session final : public std::enable_shared_from_this<Session>, public HttpRequest {
public:
    Session(HttpServer::Impl& server, tcp::socket socket, PeerAddress peer)
        : server_(server), stream_(std::move(socket)), buffer_(server.limits.maxHead * 2 + 1024),
          key_(keyOf(peer)), peer_(std::move(peer)) {}
    ~Session() { server_.release(key_); }

    void start() {
        error_code ignored;
        stream_.socket().set_option(tcp::no_delay(true), ignored);
        stream_.expires_after(server_.limits.headTimeout);
        idle_ = false;
        readLine();
    }

    std::string_view method() const override { return view(parser_->get().method_string()); }
    std::string_view target() const override {
        return target_.empty() ? view(parser_->get().target()) : target_;
    }
    const PeerAddress& peer() const override { return peer_; }
    std::vector<std::string_view> headers(std::string_view name) const override {
        std::vector<std::string_view> values;
        auto range = parser_->get().equal_range(beast::string_view(name.data(), name.size()));
        for (auto it = range.first; it != range.second; ++it) values.push_back(view(it->value()));
        return values;
    }

private:
    static std::string_view view(beast::string_view s) { return {s.data(), s.size()}; }

    // Reads until the request line is whole, so that it can be mended before the parser
    // sees it.
    void readLine() {
        std::string_view data(static_cast<const char*>(buffer_.data().data()), buffer_.size());
        std::size_t end = data.find('\n');
        if (end != std::string_view::npos) return mendLine(data.substr(0, end + 1));
        if (data.size() >= server_.limits.maxHead) return refuse(414);
        std::size_t room = std::min(server_.limits.maxHead - data.size(),
                                    std::max<std::size_t>(512, data.size()));
        stream_.async_read_some(buffer_.prepare(room),
                                [self = shared_from_this()](error_code ec, std::size_t n) {
                                    self->onLineData(ec, n);
                                });
    }

    void onLineData(error_code ec, std::size_t n) {
        if (ec) return ended(ec);
        buffer_.commit(n);
        if (idle_) {  // the next request has begun: it gets a whole head deadline
            idle_ = false;
            stream_.expires_after(server_.limits.headTimeout);
        }
        readLine();
    }

    // The handler sees the target with raw blanks mended and nothing else changed; the parser,
    // which refuses control bytes there, sees those percent-encoded as well.
    void mendLine(std::string_view line) {
        target_.clear();
        if (line.find('\0') != std::string_view::npos) return refuse(400);
        if (!isPlainRequestLine(line)) {
            std::string mended = mendRequestLine(line);
            std::size_t first = mended.find(' '), last = mended.rfind(' ');
            if (first != std::string::npos && last > first) {
                target_ = mended.substr(first + 1, last - first - 1);
                mended = mended.substr(0, first + 1) + percentEncodeControls(target_) +
                         mended.substr(last);
            }
            if (!isPlainRequestLine(mended)) return refuse(400);
            std::string_view data(static_cast<const char*>(buffer_.data().data()), buffer_.size());
            std::string rest(data.substr(line.size()));
            buffer_.consume(buffer_.size());
            if (mended.size() + rest.size() > buffer_.max_size()) return refuse(414);
            auto out = buffer_.prepare(mended.size() + rest.size());
            std::memcpy(out.data(), mended.data(), mended.size());
            std::memcpy(static_cast<char*>(out.data()) + mended.size(), rest.data(), rest.size());
            buffer_.commit(out.size());
        }
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(server_.limits.maxHead));
        parser_->body_limit(0);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](error_code e, std::size_t) {
                                    self->onHead(e);
                                });
    }

    void onHead(error_code ec) {
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
            return refuse(431);
        if (ec == beast::error::timeout || ec == http::error::end_of_stream ||
            ec == net::error::eof || ec == net::error::connection_reset)
            return ended(ec);
        if (ec) return refuse(400);
        const auto& req = parser_->get();
        if (static_cast<std::size_t>(std::distance(req.begin(), req.end())) >
            server_.limits.maxHeaders)
            return refuse(431);
        // GET carries no body; one with a body (or two lengths) can't be framed safely.
        auto length = parser_->content_length();
        if ((length && *length > 0) || req.count(http::field::content_length) > 1 ||
            parser_->chunked() ||
            req.count(http::field::transfer_encoding) > 0)
            return refuse(400);

        keepAlive_ = req.keep_alive();
        http10_ = req.version() == 10;
        headOnly_ = req.method() == http::verb::head;
        stream_.expires_never();  // the handler may wait for the disk; that is no client's fault
        try {
            server_.handler.handle(*this, [self = shared_from_this()](HttpResponse response) {
                auto executor = self->stream_.get_executor();
                net::dispatch(executor, [self = std::move(self),
                                         response = std::move(response)]() mutable {
                    self->write(std::move(response));
                });
            });
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kestrun-lobby: %s\n", e.what());
            close();
        }
    }

    void refuse(int status) {
        ++(status == 400 ? server_.counters.badRequests : server_.counters.tooLarge);
        keepAlive_ = false;
        headOnly_ = false;
        write(server_.handler.refusal(status));
    }

    void write(HttpResponse response) {
        body_ = response.body ? std::move(response.body) : std::make_shared<const std::string>();
        auto reason = http::obsolete_reason(static_cast<http::status>(response.status));
        head_.clear();
        head_.append("HTTP/1.1 ").append(std::to_string(response.status)).append(" ");
        head_.append(reason.data(), reason.size());
        head_.append("\r\nContent-Type: ").append(response.contentType);
        head_.append("\r\nContent-Length: ").append(std::to_string(body_->size())).append("\r\n");
        for (const auto& [name, value] : response.headers)
            head_.append(name).append(": ").append(value).append("\r\n");
        if (!keepAlive_) head_.append("Connection: close\r\n");
        else if (http10_) head_.append("Connection: keep-alive\r\n");
        head_.append("\r\n");

        std::array<net::const_buffer, 2> buffers = {
            net::buffer(head_), headOnly_ ? net::const_buffer() : net::buffer(*body_)};
        stream_.expires_after(server_.limits.writeTimeout);
        net::async_write(stream_, buffers,
                         [self = shared_from_this()](error_code ec, std::size_t) {
                             self->onWritten(ec);
                         });
    }

    void onWritten(error_code ec) {
        if (ec) {
            if (ec == beast::error::timeout) ++server_.counters.writeTimeouts;
            return close();
        }
        body_.reset();
        if (!keepAlive_) return linger();
        idle_ = true;
        stream_.expires_after(server_.limits.idleTimeout);
        readLine();
    }

    void ended(error_code ec) {
        if (ec == beast::error::timeout) ++(idle_ ? server_.counters.idleTimeouts
                                                  : server_.counters.headTimeouts);
        close();
    }

    // Closes after the answer, reading and dropping what the client still sends for a
    // short while: closing on unread data would reset the connection and lose the answer.
    void linger() {
        error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(kLingerTime);
        lingered_ = 0;
        drain();
    }

    void drain() {
        buffer_.consume(buffer_.size());
        stream_.async_read_some(buffer_.prepare(4096),
                                [self = shared_from_this()](error_code ec, std::size_t n) {
                                    self->lingered_ += n;
                                    if (ec || self->lingered_ > kLingerBytes) return self->close();
                                    self->drain();
                                });
    }

    void close() {
        error_code ignored;
        stream_.socket().close(ignored);
    }

    HttpServer::Impl& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    const AddressKey key_;
    const PeerAddress peer_;
    std::string target_;  // set only when the request line needed mending
    bool idle_ = false;
    bool keepAlive_ = false;
    bool http10_ = false;
    bool headOnly_ = false;
    std::string head_;
    std::shared_ptr<const std::string> body_;
    std::size_t lingered_ = 0;
};

}  // namespace

void HttpServer::Impl::accept() {
    net::io_context& loop = *loops[nextLoop++ % loops.size()];
    acceptor.async_accept(loop, [this](error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
        if (ec) {
            if (isOutOfDescriptors(ec)) {
                // Waiting connections stay in the backlog until some of ours close.
                ++counters.acceptPaused;
                acceptPause.expires_after(kAcceptPause);
                acceptPause.async_wait([this](error_code e) {
                    if (!e) accept();
                });
                return;
            }
            return accept();
        }
        ++counters.accepted;
        error_code peerError;
        auto peer = socket.remote_endpoint(peerError);
        if (!peerError) {
            PeerAddress address = peerOf(peer.address());
            // Refused before anything is read: a close is the cheapest answer.
            if (admit(keyOf(address)))
                std::make_shared<Session>(*this, std::move(socket), std::move(address))->start();
        }
        accept();
    });
}

HttpServer::HttpServer(HttpHandler& handler, HttpLimits limits)
    : impl_(std::make_unique<Impl>(handler, std::move(limits))) {}

HttpServer::~HttpServer() { stop(); }

int HttpServer::bind(const std::string& host, int port) {
    Impl& d = *impl_;
    error_code ec;
    tcp::resolver resolver(d.ioc);
    auto results = resolver.resolve(host, std::to_string(port),
                                    tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || results.empty()) throw BindError(ec ? ec.message() : "no such address");
    tcp::endpoint endpoint = results.begin()->endpoint();
    auto fail = [&](const error_code& e) {
        error_code ignored;
        d.acceptor.close(ignored);
        throw BindError(e.message());
    };
    if (d.acceptor.open(endpoint.protocol(), ec)) fail(ec);
    d.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (endpoint.address().is_v6()) d.acceptor.set_option(net::ip::v6_only(false), ec);
    if (d.acceptor.bind(endpoint, ec)) fail(ec);
    if (d.acceptor.listen(d.limits.backlog, ec)) fail(ec);
    return d.acceptor.local_endpoint().port();
}

std::size_t HttpServer::loopCount() const { return impl_->loops.size(); }

void HttpServer::serve(std::size_t index) {
    Impl& d = *impl_;
    net::io_context& loop = *d.loops[index];
    auto work = net::make_work_guard(loop);
    if (index == 0) net::post(loop, [&d] { d.accept(); });
    for (;;) {
        try {
            loop.run();
            return;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kestrun-lobby: %s\n", e.what());
        }
    }
}

void HttpServer::stop() {
    for (auto& loop : impl_->loops) loop->stop();
}

const HttpCounters& HttpServer::counters() const { return impl_->counters; }

}  // namespace lobby
