#pragma once
// A bare HTTP client for the lobby's tests: sends exactly the bytes given, from a chosen
// loopback source address, and reads the reply until the server closes.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct HttpReply {
    int status = 0;
    std::string head;  // status line and headers
    std::string body;
};

// Everything the server sent on one connection, or nullopt if it could not connect.
std::optional<std::string> exchangeRaw(int port, std::string_view request,
                                       const std::string& source = "127.0.0.1",
                                       const std::string& server = "127.0.0.1");

// A connected socket from `source`, or -1.
int connectFrom(int port, const std::string& source, const std::string& server = "127.0.0.1");

// A connection a test keeps open (a slow or idle client); closed when it goes.
class HeldConnection {
public:
    HeldConnection(int port, const std::string& source, std::string_view bytes = {});
    ~HeldConnection();
    HeldConnection(const HeldConnection&) = delete;
    HeldConnection& operator=(const HeldConnection&) = delete;
    bool connected() const { return fd_ >= 0; }
    bool send(std::string_view bytes);
    // True once the server has closed it (or it never connected); drops what was sent.
    bool closedByServer() const;

private:
    int fd_;
};

// Splits one or more pipelined replies (bodies by Content-Length).
std::vector<HttpReply> splitReplies(std::string_view raw);

// GET of `target` with Connection: close. A reply with status 0 if nothing came back.
HttpReply httpGet(int port, const std::string& target, const std::string& source = "127.0.0.1",
                  const std::string& extraHeaders = "", const std::string& server = "127.0.0.1");

// POST of a form with no fields (as a browser sends a bare button), like httpGet.
HttpReply httpPost(int port, const std::string& target, const std::string& source = "127.0.0.1");
