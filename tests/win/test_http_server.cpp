#include "test_http_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

#include "wire/text_rules.h"

namespace {

struct WinsockStartup {
    WinsockStartup() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};

void ensureWinsock() { static WinsockStartup startup; }

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A broken escape is kept as it came.
std::string decoded(const std::string& s) { return percentDecode(s).value_or(s); }

bool sendAll(SOCKET s, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        int n = ::send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

const char* reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

SOCKET bindLoopback(unsigned short port, unsigned short* boundPort) {
    ensureWinsock();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        throw std::runtime_error("bind failed");
    }
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    *boundPort = ntohs(address.sin_port);
    return s;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    std::string wanted = lower(name) + ":";
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t end = headers.find("\r\n", pos);
        if (end == std::string::npos) end = headers.size();
        std::string line = headers.substr(pos, end - pos);
        if (lower(line.substr(0, wanted.size())) == wanted) {
            std::string value = line.substr(wanted.size());
            value.erase(0, value.find_first_not_of(' '));
            return value;
        }
        pos = end + 2;
    }
    return {};
}

std::string RecordedRequest::query(const std::string& key) const {
    auto q = target.find('?');
    if (q == std::string::npos) return {};
    std::string rest = target.substr(q + 1);
    std::size_t pos = 0;
    while (pos <= rest.size()) {
        std::size_t amp = rest.find('&', pos);
        if (amp == std::string::npos) amp = rest.size();
        std::string pair = rest.substr(pos, amp - pos);
        auto eq = pair.find('=');
        if (eq != std::string::npos && decoded(pair.substr(0, eq)) == key) return decoded(pair.substr(eq + 1));
        pos = amp + 1;
    }
    return {};
}

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = bindLoopback(0, &port_);
    if (::listen(listener_, 64) != 0) throw std::runtime_error("listen failed");
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() { stop(); }

void TestHttpServer::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::string TestHttpServer::siteUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
std::string TestHttpServer::baseUrl() const { return siteUrl() + "server/server.php"; }

std::vector<RecordedRequest> TestHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t TestHttpServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

void TestHttpServer::stop() {
    if (stopping_.exchange(true)) return;
    closesocket(listener_);
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        for (SOCKET s : openSockets_) shutdown(s, SD_BOTH);
        threads.swap(connections_);
    }
    stopped_.notify_all();
    for (auto& t : threads) t.join();
}

void TestHttpServer::acceptLoop() {
    for (;;) {
        SOCKET client = ::accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        std::lock_guard lock(mutex_);
        if (stopping_) {
            closesocket(client);
            return;
        }
        openSockets_.push_back(client);
        connections_.emplace_back([this, client] { serve(client); });
    }
}

void TestHttpServer::serve(SOCKET client) {
    std::string received;
    char buffer[4096];
    while (received.find("\r\n\r\n") == std::string::npos) {
        int n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    auto finish = [&] {
        std::lock_guard lock(mutex_);
        std::erase(openSockets_, client);
        closesocket(client);
    };
    auto headEnd = received.find("\r\n\r\n");
    if (headEnd == std::string::npos) return finish();

    RecordedRequest request;
    auto lineEnd = received.find("\r\n");
    std::string requestLine = received.substr(0, lineEnd);
    auto sp1 = requestLine.find(' ');
    auto sp2 = requestLine.rfind(' ');
    request.method = requestLine.substr(0, sp1);
    request.target = sp2 > sp1 ? requestLine.substr(sp1 + 1, sp2 - sp1 - 1) : requestLine.substr(sp1 + 1);
    request.headers = received.substr(lineEnd + 2, headEnd - lineEnd - 2);

    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        handler = handler_;
    }
    Reply reply = handler ? handler(request) : Reply::ok("OK\n");

    auto pause = [&](int ms) {
        std::unique_lock lock(mutex_);
        return !stopped_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
    };
    if (reply.silent) {
        std::unique_lock lock(mutex_);
        stopped_.wait(lock, [this] { return stopping_.load(); });
        lock.unlock();
        return finish();
    }
    if (reply.delayMs > 0 && !pause(reply.delayMs)) return finish();

    std::string body = reply.body;
    if (!reply.pieces.empty()) {
        body.clear();
        for (auto& piece : reply.pieces) body += piece.first;
    }
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) +
                       "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                       (reply.location.empty() ? "" : "\r\nLocation: " + reply.location) +
                       "\r\nConnection: close\r\n\r\n";
    if (reply.pieces.empty()) {
        sendAll(client, head + body);
    } else {
        sendAll(client, head);
        for (auto& piece : reply.pieces) {
            if (piece.second > 0 && !pause(piece.second)) break;
            if (!sendAll(client, piece.first)) break;
        }
    }
    shutdown(client, SD_SEND);
    // Drain until the client closes, so the answer isn't cut off by a reset.
    while (::recv(client, buffer, sizeof buffer, 0) > 0) {
    }
    finish();
}

std::string unreachableServerUrl() {
    unsigned short port = 0;
    SOCKET s = bindLoopback(0, &port);
    closesocket(s);
    return "http://127.0.0.1:" + std::to_string(port) + "/server/server.php";
}
