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

#include "http/limits.h"
#include "http/peer_address.h"

namespace lobby {

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
    // One event loop per I/O thread; serve(i) is loop i's thread, until stop(). The first
    // loop accepts. The connections close when the server goes.
    std::size_t loopCount() const;
    void serve(std::size_t loop);
    // From any thread, also before serve().
    void stop();
    const HttpCounters& counters() const;

    struct Impl;  // public only so that the sessions in the .cpp can name it

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace lobby
