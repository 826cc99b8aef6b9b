#include "http_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

bool fillAddress(const std::string& text, int port, sockaddr_storage& addr, socklen_t& len) {
    addr = {};
    auto& v4 = reinterpret_cast<sockaddr_in&>(addr);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(addr);
    if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        len = sizeof v4;
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        len = sizeof v6;
        return true;
    }
    return false;
}

}  // namespace

int connectFrom(int port, const std::string& source, const std::string& server) {
    sockaddr_storage to{}, from{};
    socklen_t toLen = 0, fromLen = 0;
    if (!fillAddress(server, port, to, toLen) || !fillAddress(source, 0, from, fromLen))
        return -1;
    int fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), fromLen) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), toLen) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

HeldConnection::HeldConnection(int port, const std::string& source, std::string_view bytes)
    : fd_(connectFrom(port, source)) {
    if (fd_ >= 0 && !bytes.empty()) send(bytes);
}

HeldConnection::~HeldConnection() {
    if (fd_ >= 0) ::close(fd_);
}

bool HeldConnection::send(std::string_view bytes) {
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
                           static_cast<ssize_t>(bytes.size());
}

bool HeldConnection::closedByServer() const {
    if (fd_ < 0) return true;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) {
    }
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

std::optional<std::string> exchangeRaw(int port, std::string_view request,
                                       const std::string& source, const std::string& server) {
    int fd = connectFrom(port, source, server);
    if (fd < 0) return std::nullopt;
    for (size_t sent = 0; sent < request.size();) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the server may refuse before reading everything
        sent += static_cast<size_t>(n);
    }
    std::string reply;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char chunk[8192];
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        reply.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return reply;
}

std::vector<HttpReply> splitReplies(std::string_view raw) {
    std::vector<HttpReply> replies;
    while (!raw.empty()) {
        size_t headEnd = raw.find("\r\n\r\n");
        if (headEnd == std::string_view::npos) break;
        HttpReply reply;
        reply.head = std::string(raw.substr(0, headEnd));
        if (reply.head.rfind("HTTP/1.1 ", 0) == 0) reply.status = std::atoi(reply.head.c_str() + 9);
        size_t length = raw.size() - headEnd - 4;
        if (size_t at = reply.head.find("Content-Length: "); at != std::string::npos)
            length = std::min<size_t>(std::strtoul(reply.head.c_str() + at + 16, nullptr, 10), length);
        reply.body = std::string(raw.substr(headEnd + 4, length));
        raw.remove_prefix(headEnd + 4 + length);
        replies.push_back(std::move(reply));
    }
    return replies;
}

namespace {
HttpReply ask(int port, const std::string& method, const std::string& target, const std::string& source,
              const std::string& extraHeaders, const std::string& server) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Kestrun "
                          "Client\r\nConnection: close\r\n" + extraHeaders + "\r\n";
    auto raw = exchangeRaw(port, request, source, server);
    if (!raw) return {};
    auto replies = splitReplies(*raw);
    return replies.empty() ? HttpReply{} : replies.front();
}
}  // namespace

HttpReply httpGet(int port, const std::string& target, const std::string& source,
                  const std::string& extraHeaders, const std::string& server) {
    return ask(port, "GET", target, source, extraHeaders, server);
}

HttpReply httpPost(int port, const std::string& target, const std::string& source) {
    return ask(port, "POST", target, source,
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n", "127.0.0.1");
}

