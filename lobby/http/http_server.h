#pragma once
// The lobby's HTTP layer: event-driven sessions on a few I/O threads, with the limits that
// keep one hostile client from starving the others. It knows nothing of races: it hands
// each readable GET to a Handler and sends back what the handler answers.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/peer_address.h"

namespace lobby {

struct HttpLimits {
    int threads = 0;                      // I/O threads; 0: one per core
    std::size_t maxConnections = 20000;   // open at once, all addresses
    std::size_t maxPerAddress = 64;       // open at once from one address (IPv6: one /64)
    std::chrono::milliseconds headTimeout{10000};  // for a whole request head
    std::chrono::milliseconds idleTimeout{5000};   // between requests on a kept-alive connection
    std::chrono::milliseconds writeTimeout{10000};  // for a whole response
    std::size_t maxHead = 16 * 1024;      // request line and headers together
    std::size_t maxHeaders = 100;
    int backlog = 4096;
    std::vector<AddressKey> uncapped;     // not held to maxPerAddress (a trusted proxy)
};

// Why connections were refused or ended early; read from any thread.
struct HttpCounters {
    std::atomic<std::uint64_t> open{0};
    std::atomic<std::uint64_t> accepted{0};
    std::atomic<std::uint64_t> refusedPerAddress{0};  // at maxPerAddress, closed at accept
    std::atomic<std::uint64_t> refusedTotal{0};       // at maxConnections, closed at accept
    std::atomic<std::uint64_t> acceptPaused{0};       // out of file descriptors: paused
    std::atomic<std::uint64_t> headTimeouts{0};
    std::atomic<std::uint64_t> idleTimeouts{0};
    std::atomic<std::uint64_t> writeTimeouts{0};
    std::atomic<std::uint64_t> tooLarge{0};     // 414 or 431
    std::atomic<std::uint64_t> badRequests{0};  // 400: unreadable, a body, two lengths
};

// One request as read; valid only during Handler::handle.
class HttpRequest {
public:
    virtual std::string_view method() const = 0;
    virtual std::string_view target() const = 0;
    // The peer's address as the socket gave it at accept (IPv4-mapped IPv6 as IPv4).
    virtual const PeerAddress& peer() const = 0;
    // The values of every header line with this name (any case), in order.
    virtual std::vector<std::string_view> headers(std::string_view name) const = 0;

protected:
    ~HttpRequest() = default;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain";
    std::vector<std::pair<std::string, std::string>> headers;
    std::shared_ptr<const std::string> body;  // may be shared by many responses

    static HttpResponse text(int status, std::string body);
};

// Sends the response; call exactly once, from any thread, now or later.
using HttpReply = std::function<void(HttpResponse)>;

class HttpHandler {
public:
    virtual void handle(const HttpRequest& request, HttpReply reply) = 0;
    // What the layer answers for a request it refuses itself (400, 414, 431).
    virtual HttpResponse refusal(int status) = 0;

protected:
    ~HttpHandler() = default;
};

class BindError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HttpServer {
public:
    HttpServer(HttpHandler& handler, HttpLimits limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens (host: a name or address literal; port 0: any free one); gives the
    // port. Throws BindError.
    int bind(const std::string& host, int port);
    // Serves on the I/O threads until stop(), then closes every connection.
    void run();
    // From any thread, also before run().
    void stop();
    bool isRunning() const;
    const HttpCounters& counters() const;

    struct Impl;  // public only so that the sessions in the .cpp can name it

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace lobby
