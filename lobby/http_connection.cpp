#include "http_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "wire.h"

namespace lobby {
namespace {

// Longer request lines are left for httplib to refuse (414).
constexpr std::size_t kMaxRequestLine = CPPHTTPLIB_REQUEST_URI_MAX_LENGTH + 64;

int toMilliseconds(time_t sec, time_t usec) {
    return static_cast<int>(sec * 1000 + usec / 1000);
}

bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        int n = ::poll(&p, 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        return n > 0;
    }
}

void addressOf(const sockaddr_storage& addr, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        auto& a = reinterpret_cast<const sockaddr_in&>(addr);
        inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
        port = ntohs(a.sin_port);
    } else if (addr.ss_family == AF_INET6) {
        auto& a = reinterpret_cast<const sockaddr_in6&>(addr);
        inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
        port = ntohs(a.sin6_port);
    }
    ip = text;
}

// A socket stream with its own read buffer, so that the request line can be read, mended
// and put back before httplib reads it.
class RequestStream final : public httplib::Stream {
public:
    RequestStream(socket_t sock, int readTimeoutMs, int writeTimeoutMs)
        : sock_(sock), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

    bool is_readable() const override {
        return offset_ < buffer_.size() || waitFor(sock_, POLLIN, readTimeoutMs_);
    }
    bool is_writable() const override { return waitFor(sock_, POLLOUT, writeTimeoutMs_); }

    ssize_t read(char* ptr, size_t size) override {
        if (offset_ == buffer_.size()) {
            compact();
            if (!fill()) return -1;
        }
        size_t n = std::min(size, buffer_.size() - offset_);
        std::memcpy(ptr, buffer_.data() + offset_, n);
        offset_ += n;
        return static_cast<ssize_t>(n);
    }

    // Everything or nothing: httplib writes response heads in one call.
    ssize_t write(const char* ptr, size_t size) override {
        size_t sent = 0;
        while (sent < size) {
            if (!is_writable()) return -1;
            ssize_t n = ::send(sock_, ptr + sent, size - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return -1;
            sent += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            addressOf(addr, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            addressOf(addr, ip, port);
    }
    socket_t socket() const override { return sock_; }

    // Waits for the next request on a kept-alive connection; gives up on timeout or stop.
    template <typename Stopping>
    bool awaitRequest(int timeoutMs, Stopping stopping) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (offset_ == buffer_.size()) {
            if (stopping()) return false;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() < 0) return false;
            if (waitFor(sock_, POLLIN, static_cast<int>(std::min<long>(left.count(), 100))))
                return true;
        }
        return true;
    }

    // Reads the request line into the buffer and mends it there. False if it is no plain
    // request line even then: httplib refuses it, and the connection must end, as what
    // follows can't be trusted to be the next request.
    bool mendRequestLine() {
        compact();
        size_t lineEnd;
        while ((lineEnd = buffer_.find('\n', offset_)) == std::string::npos) {
            if (buffer_.size() - offset_ > kMaxRequestLine || !fill()) return false;
        }
        std::string_view line(buffer_.data() + offset_, lineEnd + 1 - offset_);
        if (line.size() > kMaxRequestLine) return false;
        if (isPlainRequestLine(line)) return true;  // the usual case: nothing to mend
        std::string mended = lobby::mendRequestLine(line);
        buffer_.replace(offset_, line.size(), mended);
        return isPlainRequestLine(mended);
    }

private:
    bool fill() {
        if (!waitFor(sock_, POLLIN, readTimeoutMs_)) return false;
        char chunk[4096];
        for (;;) {
            ssize_t n = ::recv(sock_, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<size_t>(n));
            return true;
        }
    }
    void compact() {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }

    socket_t sock_;
    int readTimeoutMs_;
    int writeTimeoutMs_;
    std::string buffer_;
    size_t offset_ = 0;
};

}  // namespace

bool HttpServer::process_and_close_socket(socket_t sock) {
    // httplib writes a response's head and body separately; Nagle would hold the body back
    // until the client's delayed ACK.
    int yes = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    RequestStream stream(sock, toMilliseconds(read_timeout_sec_, read_timeout_usec_),
                         toMilliseconds(write_timeout_sec_, write_timeout_usec_));
    int keepAliveMs = static_cast<int>(keep_alive_timeout_sec_ * 1000);
    bool ok = false;
    for (size_t left = keep_alive_max_count_; left > 0; --left) {
        if (!stream.awaitRequest(keepAliveMs, [this] { return stopping(); })) break;
        bool sane = stream.mendRequestLine();
        bool closed = false;
        ok = process_request(stream, left == 1 || !sane, closed, nullptr);
        if (!sane) break;
        if (!ok || closed) break;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

void HttpServer::closeUnusedSocket() {
    socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
    if (sock != INVALID_SOCKET) ::close(sock);
}

void lobbySocketOptions(socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    int family = 0;
    socklen_t len = sizeof family;
    if (::getsockopt(sock, SOL_SOCKET, SO_DOMAIN, &family, &len) == 0 && family == AF_INET6) {
        int no = 0;
        ::setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    }
}

}  // namespace lobby
