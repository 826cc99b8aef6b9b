#pragma once
// A scriptable HTTP/1.1 server on 127.0.0.1 for the Wine tests: it records every request
// and answers each one as the test's handler says (status, body, trickled pieces, silence).
#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct RecordedRequest {
    std::string method;
    std::string target;   // path and query exactly as they came over the wire
    std::string headers;  // the raw header block
    std::string header(const std::string& name) const;  // value of a header, case-insensitive name
    std::string query(const std::string& key) const;    // percent-decoded query value
};

struct Reply {
    int status = 200;
    std::string body;
    // When not empty, the body is sent as these pieces with the given pause before each.
    std::vector<std::pair<std::string, int>> pieces;
    bool silent = false;            // accept and read the request, never answer
    int delayMs = 0;                // pause before the answer starts
    std::string location;           // sent as a Location header when not empty

    static Reply ok(std::string body) {
        Reply r;
        r.body = std::move(body);
        return r;
    }
};

class TestHttpServer {
public:
    using Handler = std::function<Reply(const RecordedRequest&)>;

    explicit TestHttpServer(Handler handler = {});
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    void setHandler(Handler handler);
    unsigned short port() const { return port_; }
    std::string baseUrl() const;  // http://127.0.0.1:PORT/server/server.php
    std::string siteUrl() const;  // http://127.0.0.1:PORT/
    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    void stop();

private:
    void acceptLoop();
    void serve(SOCKET client);

    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    Handler handler_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::thread> connections_;
    std::vector<SOCKET> openSockets_;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
};

// The script's address on a loopback port on which nothing listens (bound once, then released).
std::string unreachableServerUrl();
